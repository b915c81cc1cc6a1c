package org.talve.maven;

import java.io.File;
import java.io.IOException;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.logging.Log;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;
import org.talve.maven.pack.ModulesImage;
import org.talve.maven.pack.PackException;
import org.talve.maven.pack.RuntimeArchive;

/**
 * Makes the installer's Java runtime and packs it, as "talve-pack runtime"
 * does: runs the JDK's jlink (the modules the installer jar needs, unless
 * given), or takes a runtime folder. A Windows runtime must come from a
 * folder, since jlink makes runtimes for its own system only.
 */
@Mojo(name = "runtime", defaultPhase = LifecyclePhase.PACKAGE, threadSafe = true,
        requiresDependencyResolution = ResolutionScope.RUNTIME)
public class RuntimeMojo extends TalveMojo {
    static final List<String> DEFAULT_JLINK_OPTIONS = Arrays.asList("--strip-debug", "--no-header-files", "--no-man-pages");

    /** A runtime folder (with bin/java, or bin/java.exe for Windows) to pack instead of running jlink. */
    @Parameter(property = "talve.runtimeDirectory")
    private File runtimeDirectory;

    /**
     * The modules jlink puts in the runtime; by default those jdeps finds the
     * installer jar and its run-time dependencies need.
     */
    @Parameter(property = "talve.modules")
    private List<String> modules;

    /** jlink's options besides --add-modules and --output; never --compress. */
    @Parameter(property = "talve.jlinkOptions")
    private List<String> jlinkOptions;

    /** The installer jar whose modules go into the runtime; by default the project's jar with its dependencies. */
    @Parameter
    private File jar;

    /** The JDK whose jlink and jdeps run; by default the one running Maven. */
    @Parameter(property = "talve.jdkHome", defaultValue = "${java.home}")
    private File jdkHome;

    /** The talve-unpack program to put in front; by default the plugin's own for the target. */
    @Parameter
    private File unpacker;

    /**
     * The folder of the packed runtime (jvm, or jvm.exe for Windows); by
     * default target/talve/TARGET, where the installer goal looks for it.
     */
    @Parameter
    private File outputDirectory;

    /** zstd (the default: smaller, unpacks faster) or deflate, what earlier versions wrote. */
    @Parameter(property = "talve.compression", defaultValue = "zstd")
    private String compression = "zstd";

    /** The zstd level, 1 (fastest) to 22 (smallest). */
    @Parameter(property = "talve.compressionLevel", defaultValue = "19")
    private int compressionLevel = RuntimeArchive.Compression.DEFAULT_ZSTD_LEVEL;

    @Override
    void run(Target system) throws MojoExecutionException, MojoFailureException {
        File folder = outputDirectory != null ? outputDirectory : defaultFolder(project, system);
        File runtime = runtimeDirectory;
        if (runtime == null) {
            if (Target.host() != system) {
                throw new MojoFailureException("Parameter 'runtimeDirectory': a " + system.id + " runtime must come from a folder "
                        + "here (jlink makes runtimes for its own system only); give a " + system.id + " Java runtime folder with "
                        + system.javaLauncher);
            }
            runtime = link(system, new File(folder, "runtime-image"));
        } else {
            checkRuntimeFolder(runtime, system);
            if (ModulesImage.of(runtime.toPath().resolve("lib/modules")) == ModulesImage.Compression.COMPRESSED) {
                getLog().warn("Parameter 'runtimeDirectory': " + runtime + " was made with jlink --compress (its lib/modules holds "
                        + "compressed resources): the packed runtime is larger than that of a runtime made without it");
            }
        }
        File output = new File(folder, system.runtimeFileName);
        RuntimeArchive.Compression packing;
        try {
            packing = RuntimeArchive.Compression.named(compression, compressionLevel);
        } catch (IllegalArgumentException e) {
            throw new MojoFailureException("Parameter 'compression' or 'compressionLevel': " + e.getMessage(), e);
        }
        try {
            RuntimeArchive.Result result = unpacker != null
                    ? RuntimeArchive.write(runtime.toPath(), InstallerMojo.readParameterFile(unpacker, "unpacker"), unpacker.getPath(),
                            output.toPath(), packing)
                    : RuntimeArchive.write(runtime.toPath(), system.unpacker(), "of the " + system.id + " target", output.toPath(),
                            packing);
            getLog().info(output + ": packed runtime written (" + result.unpackedBytes + " bytes once unpacked)");
        } catch (PackException e) {
            throw new MojoFailureException("Packing the runtime " + runtime + ": " + e.getMessage(), e);
        }
    }

    static File defaultFolder(MavenProject project, Target system) {
        return new File(project.getBuild().getDirectory(), "talve/" + system.id);
    }

    static void checkRuntimeFolder(File runtime, Target system) throws MojoFailureException {
        if (!runtime.isDirectory()) {
            throw new MojoFailureException("Parameter 'runtimeDirectory': " + runtime + " does not exist or is not a folder");
        }
        File java = new File(runtime, system.javaLauncher);
        if (!java.isFile()) {
            throw new MojoFailureException("Parameter 'runtimeDirectory': " + runtime + " has no " + system.javaLauncher
                    + ", so it is no " + system.id + " Java runtime");
        }
    }

    private File link(Target system, File image) throws MojoFailureException, MojoExecutionException {
        JdkTools tools = new JdkTools(jdkHome);
        String moduleList;
        if (modules != null && !modules.isEmpty()) {
            moduleList = String.join(",", modules);
        } else {
            File installerJar = jar != null ? jar : InstallerMojo.projectJar(project);
            if (installerJar == null || !installerJar.isFile()) {
                throw new MojoFailureException("Parameter 'jar': " + (installerJar == null ? "the project has no jar yet"
                        : installerJar + " does not exist") + "; run the goal after the jar is made (phase package), "
                        + "give the jar, or give the 'modules'");
            }
            List<File> jars = new ArrayList<>();
            jars.add(installerJar);
            if (jar == null) jars.addAll(InstallerJar.runtimeDependencies(project));
            moduleList = tools.modulesOf(jars);
        }
        deleteTree(image.toPath());
        image.getParentFile().mkdirs();
        List<String> options = withoutCompression(jlinkOptions != null ? jlinkOptions : DEFAULT_JLINK_OPTIONS, getLog());
        getLog().info("jlink --add-modules " + moduleList + " " + String.join(" ", options));
        tools.jlink(moduleList, options, image);
        checkRuntimeFolder(image, system);
        return image;
    }

    // The runtime is packed, file by file, after jlink: resources jlink has
    // compressed already leave that compression little to take, and the
    // installer comes out larger.
    static List<String> withoutCompression(List<String> options, Log log) {
        List<String> kept = new ArrayList<>();
        for (int i = 0; i < options.size(); ++i) {
            String option = options.get(i).trim();
            boolean separateValue = option.equals("--compress") || option.equals("-c");
            if (separateValue || option.startsWith("--compress=") || option.startsWith("-c=")) {
                String value = separateValue && i + 1 < options.size() ? " " + options.get(++i) : "";
                log.warn("Parameter 'jlinkOptions': " + option + value + " left out: the runtime is packed compressed, "
                        + "and compressed inside it would pack larger");
                continue;
            }
            kept.add(option);
        }
        return kept;
    }

    // jlink refuses an output folder that exists: the one of an earlier build goes first.
    private static void deleteTree(Path root) throws MojoExecutionException {
        if (!Files.exists(root)) return;
        try {
            Files.walkFileTree(root, new SimpleFileVisitor<Path>() {
                @Override
                public FileVisitResult visitFile(Path file, BasicFileAttributes attributes) throws IOException {
                    Files.delete(file);
                    return FileVisitResult.CONTINUE;
                }

                @Override
                public FileVisitResult postVisitDirectory(Path folder, IOException failure) throws IOException {
                    if (failure != null) throw failure;
                    Files.delete(folder);
                    return FileVisitResult.CONTINUE;
                }
            });
        } catch (IOException e) {
            throw new MojoExecutionException("Cannot remove the earlier runtime image " + root + ": " + e.getMessage(), e);
        }
    }
}
