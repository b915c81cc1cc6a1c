package org.talve.maven;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.Component;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;
import org.apache.maven.project.MavenProjectHelper;
import org.talve.maven.pack.Installer;
import org.talve.maven.pack.Installer.Payload;
import org.talve.maven.pack.PackException;
import org.talve.maven.pack.WindowsResources;

/**
 * Writes the installer, as "talve-pack create" does, and attaches it to
 * the project with the target as its classifier.
 */
@Mojo(name = "installer", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true,
        requiresDependencyResolution = ResolutionScope.RUNTIME)
public class InstallerMojo extends TalveMojo {
    @Component
    private MavenProjectHelper projectHelper;

    /** The installer jar; by default the project's jar, merged with its run-time dependencies. */
    @Parameter
    private File jar;

    /**
     * Store the project's jar merged with its compile and runtime scope
     * dependencies, so that it runs alone; false stores it as it is.
     */
    @Parameter(property = "talve.mergeDependencies", defaultValue = "true")
    private boolean mergeDependencies;

    /** The time of the merged jar's entries, for reproducible installers; unset gives a fixed date. */
    @Parameter(defaultValue = "${project.build.outputTimestamp}")
    private String outputTimestamp;

    /** The name the jar is stored and run under (at most 12 characters); by default its file name. */
    @Parameter(property = "talve.jarName")
    private String jarName;

    /** A data jar, unpacked beside the installer jar. */
    @Parameter(property = "talve.data")
    private File data;

    /** The name the data jar is stored under (at most 12 characters); by default its file name. */
    @Parameter(property = "talve.dataName")
    private String dataName;

    /** Megabytes the installer needs in the temporary directory beyond its files (with a data jar). */
    @Parameter(property = "talve.extraSpaceMb", defaultValue = "0")
    private long extraSpaceMb;

    /** The packed runtime; by default the one the runtime goal wrote for the target, when there is one. */
    @Parameter
    private File runtime;

    /** Bytes the runtime needs once unpacked; read from a runtime the runtime goal or talve-pack packed. */
    @Parameter(property = "talve.runtimeSize")
    private Long runtimeSize;

    /** Reuse a runtime of an earlier installation before unpacking the carried one. */
    @Parameter(property = "talve.searchInstalledRuntime", defaultValue = "false")
    private boolean searchInstalledRuntime;

    /** Splash image shown while unpacking. */
    @Parameter(property = "talve.splash")
    private File splash;

    /** Text printed by -help; by default a line listing the launcher's options. */
    @Parameter(property = "talve.usage")
    private File usage;

    /** Argument specification the command line is checked against; by default any command line is taken. */
    @Parameter(property = "talve.argsSpec")
    private File argsSpec;

    /** Accept any command line (the default when no argsSpec is given); excludes argsSpec. */
    @Parameter(property = "talve.noValidation", defaultValue = "false")
    private boolean noValidation;

    /**
     * Run the installer as if -console were given: its output and prompts
     * on the console, for installers that talk to the user there.
     */
    @Parameter(property = "talve.console", defaultValue = "false")
    private boolean console;

    /** Pass the user's -javaArgs text to the Java command. */
    @Parameter(property = "talve.allowJavaArgs", defaultValue = "false")
    private boolean allowJavaArgs;

    /**
     * Jar that checks an installed Java runtime (stored as check.jar); by
     * default, when requirements are given, the plugin's own.
     */
    @Parameter(property = "talve.checkJar")
    private File checkJar;

    /** Requirement file the checking jar reads (stored as req.txt). */
    @Parameter(property = "talve.requirements")
    private File requirements;

    /** The launcher to build on; by default the plugin's own for the target. */
    @Parameter
    private File launcher;

    /** The installer file; by default target/FINALNAME-TARGET (.exe for Windows). */
    @Parameter
    private File outputFile;

    /** Attach the installer to the project, to be installed and deployed with it. */
    @Parameter(property = "talve.attach", defaultValue = "true")
    private boolean attach;

    /** The classifier it is attached with; by default the target (linux, windows). */
    @Parameter
    private String classifier;

    /** The installer's icon, an ICO file (Windows only). */
    @Parameter
    private File icon;

    /** Version information Explorer shows (Windows only); the versions default to the project's. */
    @Parameter
    private VersionInfo versionInfo;

    /** The rights the installer asks for (Windows only): asInvoker, highestAvailable (the launcher's own) or requireAdministrator. */
    @Parameter
    private String executionLevel;

    @Override
    void run(Target system) throws MojoExecutionException, MojoFailureException {
        if (noValidation && argsSpec != null) {
            throw new MojoFailureException("Parameters 'argsSpec' and 'noValidation' exclude each other; give one");
        }
        if (extraSpaceMb < 0 || extraSpaceMb > 999999999L) {
            throw new MojoFailureException("Parameter 'extraSpaceMb': " + extraSpaceMb + " is no number of megabytes from 0 to 999999999");
        }
        if (runtimeSize != null && (runtimeSize < 0 || runtimeSize > 0xffffffffL)) {
            throw new MojoFailureException("Parameter 'runtimeSize': " + runtimeSize + " is beyond the 4 GiB an installer can hold");
        }
        if (system != Target.WINDOWS && (icon != null || versionInfo != null || executionLevel != null)) {
            throw new MojoFailureException("Parameters 'icon', 'versionInfo' and 'executionLevel' are for the windows target only;"
                    + " give them in its execution");
        }
        WindowsResources windowsResources = VersionInfo.windowsResources(icon, versionInfo, executionLevel, project.getVersion());
        File installerJar = jar != null ? jar : projectJar(project);
        if (installerJar == null || !installerJar.isFile()) {
            throw new MojoFailureException("Parameter 'jar': " + (installerJar == null
                    ? "the project has no jar (is its packaging jar, and does the goal run in phase package?)"
                    : installerJar + " does not exist") + "; give the installer jar");
        }
        if (jar == null && mergeDependencies) {
            installerJar = InstallerJar.merge(project, installerJar, RuntimeMojo.defaultFolder(project, system), outputTimestamp, getLog());
        }
        File output = outputFile != null ? outputFile
                : new File(project.getBuild().getDirectory(), project.getBuild().getFinalName() + "-" + system.id + system.programSuffix);

        Installer installer = new Installer();
        try {
            if (launcher != null) {
                installer.launcher(readParameterFile(launcher, "launcher"), launcher.getPath());
            } else {
                installer.launcher(system.launcher(), "the plugin's " + system.id + " launcher");
            }
            installer.extraSpaceMb(extraSpaceMb);
        } catch (PackException e) {
            throw new MojoFailureException("Parameter 'extraSpaceMb': " + e.getMessage(), e);
        }
        add(installer, Payload.JAR, installerJar, "jar", jarName, "jarName");
        add(installer, Payload.DATA, data, "data", dataName, "dataName");
        add(installer, Payload.SPLASH, splash, "splash", null, null);
        add(installer, Payload.USAGE, usage, "usage", null, null);
        add(installer, Payload.ARGUMENTS, argsSpec, "argsSpec", null, null);
        add(installer, Payload.CHECK_JAR, checkJar != null || requirements == null ? checkJar : bundledCheckJar(), "checkJar", null, null);
        add(installer, Payload.REQUIREMENTS, requirements, "requirements", null, null);
        File packedRuntime = runtime;
        if (packedRuntime == null) {
            File made = new File(RuntimeMojo.defaultFolder(project, system), system.runtimeFileName);
            if (made.isFile()) packedRuntime = made;
        }
        add(installer, Payload.RUNTIME, packedRuntime, "runtime", null, null);
        installer.runtimeSize(runtimeSize).allowJavaArgs(allowJavaArgs).searchInstalledRuntime(searchInstalledRuntime)
                .console(console);
        installer.windowsResources(windowsResources);
        if (packedRuntime == null) getLog().warn("No runtime: the installer runs only where a Java runtime is installed");

        try {
            long size = installer.write(output.toPath());
            if (installer.launcherSignatureLeftOut()) {
                getLog().warn((launcher != null ? launcher.getPath() : "the plugin's " + system.id + " launcher")
                        + ": the launcher's signature is left out; sign the installer instead");
            }
            getLog().info(output + ": installer written (" + size + " bytes)");
        } catch (PackException e) {
            throw new MojoFailureException("Writing the installer " + output + ": " + e.getMessage(), e);
        }
        if (attach) {
            projectHelper.attachArtifact(project, system == Target.WINDOWS ? "exe" : "bin",
                    classifier != null ? classifier : system.id, output);
        }
    }

    private static void add(Installer installer, Payload payload, File file, String parameter, String name, String nameParameter)
            throws MojoFailureException {
        if (file == null) return;
        if (!file.isFile()) throw new MojoFailureException("Parameter '" + parameter + "': " + file + " does not exist or is not a file");
        try {
            Installer.storedName(payload, file.toPath(), name);
        } catch (PackException e) {
            String which = name != null ? nameParameter : parameter;
            String hint = nameParameter == null || name != null ? ""
                    : "; give " + (e.getMessage().contains("longer than") ? "a shorter" : "another") + " name with '"
                            + nameParameter + "'";
            throw new MojoFailureException("Parameter '" + which + "': " + e.getMessage() + hint, e);
        }
        installer.payload(payload, file.toPath(), name);
    }

    private File bundledCheckJar() throws MojoExecutionException {
        File file = new File(project.getBuild().getDirectory(), "talve/check.jar");
        try {
            Files.createDirectories(file.getParentFile().toPath());
            Files.write(file.toPath(), Target.bundled("check.jar", "the checking jar", "'checkJar'"));
        } catch (IOException e) {
            throw new MojoExecutionException("Cannot write " + file + ": " + e.getMessage(), e);
        }
        return file;
    }

    static File projectJar(MavenProject project) {
        return project.getArtifact() != null ? project.getArtifact().getFile() : null;
    }

    static byte[] readParameterFile(File file, String parameter) throws MojoFailureException {
        if (!file.isFile()) throw new MojoFailureException("Parameter '" + parameter + "': " + file + " does not exist or is not a file");
        try {
            return Files.readAllBytes(file.toPath());
        } catch (IOException e) {
            throw new MojoFailureException("Parameter '" + parameter + "': " + file + " cannot be read: " + e.getMessage(), e);
        }
    }
}
