package org.talve.maven;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.File;
import java.lang.reflect.Field;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.apache.maven.model.Build;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.logging.SystemStreamLog;
import org.apache.maven.project.MavenProject;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * Bad configuration stops the build with a message naming the parameter, and
 * writes nothing; what the build goes on with despite it is a warning.
 */
class ConfigurationErrorTest {
    @TempDir
    Path scratch;

    private MavenProject project() {
        MavenProject project = new MavenProject();
        Build build = new Build();
        build.setDirectory(scratch.resolve("target").toString());
        build.setFinalName("sample-1.0");
        project.setBuild(build);
        return project;
    }

    private static <T extends AbstractMojo> T configure(T mojo, Object... settings) throws ReflectiveOperationException {
        for (int i = 0; i < settings.length; i += 2) {
            Field field = null;
            for (Class<?> c = mojo.getClass(); field == null; c = c.getSuperclass()) {
                try {
                    field = c.getDeclaredField((String) settings[i]);
                } catch (NoSuchFieldException e) {
                    if (c.getSuperclass() == null) throw e;
                }
            }
            field.setAccessible(true);
            field.set(mojo, settings[i + 1]);
        }
        return mojo;
    }

    private static String failure(AbstractMojo mojo) {
        return assertThrows(MojoFailureException.class, mojo::execute).getMessage();
    }

    private static void assertMentions(String message, String... parts) {
        for (String part : parts) assertTrue(message.contains(part), "'" + part + "' is not in: " + message);
    }

    private InstallerMojo installer(Object... settings) throws ReflectiveOperationException {
        Object[] all = new Object[settings.length + 8];
        System.arraycopy(new Object[] {"project", project(), "target", "linux", "attach", false, "extraSpaceMb", 0L}, 0, all, 0, 8);
        System.arraycopy(settings, 0, all, 8, settings.length);
        return configure(new InstallerMojo(), all);
    }

    @Test
    void aMissingJarIsNamed() throws Exception {
        File missing = scratch.resolve("nowhere/setup.jar").toFile();
        assertMentions(failure(installer("jar", missing)), "Parameter 'jar'", missing.toString(), "does not exist");
        assertMentions(failure(installer()), "Parameter 'jar'", "the project has no jar");
        assertFalse(Files.exists(scratch.resolve("target")));
    }

    @Test
    void aNameTooLongForTheInstallerIsNamedWithItsParameter() throws Exception {
        File jar = Files.write(scratch.resolve("sample-installer-1.0.jar"), new byte[] {1}).toFile();
        assertMentions(failure(installer("jar", jar)), "Parameter 'jar'", "'sample-installer-1.0.jar' is longer than 12 characters",
                "'jarName'");
        assertMentions(failure(installer("jar", jar, "jarName", "thirteen.jar1")), "Parameter 'jarName'", "longer than 12");
        File data = Files.write(scratch.resolve("the-data-of-it.jar"), new byte[] {1}).toFile();
        File shortJar = Files.write(scratch.resolve("setup.jar"), new byte[] {1}).toFile();
        assertMentions(failure(installer("jar", shortJar, "data", data)), "Parameter 'data'", "'dataName'");
        assertMentions(failure(installer("jar", shortJar, "splash", Files.write(scratch.resolve("a-long-splash.gif"), new byte[] {1}).toFile())),
                "Parameter 'splash'", "longer than 12");
        assertFalse(Files.exists(scratch.resolve("target")));
    }

    @Test
    void windowsResourcesAreNamedWithTheirParameter() throws Exception {
        File jar = Files.write(scratch.resolve("setup.jar"), new byte[] {1}).toFile();
        VersionInfo info = new VersionInfo();
        assertMentions(failure(installer("jar", jar, "versionInfo", info)), "'icon', 'versionInfo' and 'executionLevel'",
                "windows target only");
        info.fileVersion = "1.0-beta";
        assertMentions(failure(installer("jar", jar, "target", "windows", "versionInfo", info)),
                "Parameter 'versionInfo.fileVersion'", "'1.0-beta' is not a version of dotted numbers");
        info.fileVersion = null;
        info.company = "line\nbreak";
        assertMentions(failure(installer("jar", jar, "target", "windows", "versionInfo", info)),
                "Parameter 'versionInfo.company'", "control character");
        assertMentions(failure(installer("jar", jar, "target", "windows", "executionLevel", "root")),
                "Parameter 'executionLevel'", "not 'root'");
        assertFalse(Files.exists(scratch.resolve("target")));
    }

    @Test
    void excludingSettingsAreBothNamed() throws Exception {
        File jar = Files.write(scratch.resolve("setup.jar"), new byte[] {1}).toFile();
        File spec = Files.write(scratch.resolve("args.txt"), new byte[] {1}).toFile();
        assertMentions(failure(installer("jar", jar, "argsSpec", spec, "noValidation", true)), "'argsSpec'", "'noValidation'");
        assertMentions(failure(installer("jar", jar, "target", "macos")), "Parameter 'target'", "linux or windows");
    }

    @Test
    void aRuntimeFolderWithoutItsJavaLauncherIsNamed() throws Exception {
        Path folder = Files.createDirectories(scratch.resolve("runtime/lib"));
        RuntimeMojo linux = configure(new RuntimeMojo(), "project", project(), "target", "linux", "runtimeDirectory", folder.getParent().toFile());
        assertMentions(failure(linux), "Parameter 'runtimeDirectory'", folder.getParent().toString(), "has no bin/java");
        // A Linux launcher is no Windows runtime's.
        Files.createDirectories(scratch.resolve("runtime/bin"));
        Files.write(scratch.resolve("runtime/bin/java"), new byte[] {1});
        RuntimeMojo windows = configure(new RuntimeMojo(), "project", project(), "target", "windows", "runtimeDirectory", folder.getParent().toFile());
        assertMentions(failure(windows), "Parameter 'runtimeDirectory'", "has no bin/java.exe");
        RuntimeMojo absent = configure(new RuntimeMojo(), "project", project(), "target", "linux", "runtimeDirectory", scratch.resolve("none").toFile());
        assertMentions(failure(absent), "Parameter 'runtimeDirectory'", "does not exist");
        assertFalse(Files.exists(scratch.resolve("target")));
    }

    @Test
    void aWindowsRuntimeMustComeFromAFolderOffWindows() throws Exception {
        if (Target.host() == Target.WINDOWS) return;
        RuntimeMojo mojo = configure(new RuntimeMojo(), "project", project(), "target", "windows");
        assertMentions(failure(mojo), "Parameter 'runtimeDirectory'", "must come from a folder");
    }

    @Test
    void aSignedLauncherIsLeftOutWithAWarning() throws Exception {
        Path built = Paths.get(System.getProperty("talve.windows.bin.dir", ""), "talve-launcher.exe");
        assumeTrue(Files.isRegularFile(built), "no Windows launcher built");
        // A certificate table at the end, as a signing tool leaves it: the Security entry sits 128 bytes into the optional header.
        byte[] signed = Arrays.copyOf(Files.readAllBytes(built), (int) Files.size(built) + 16);
        int pe = (signed[0x3c] & 0xff) | (signed[0x3d] & 0xff) << 8;
        int security = pe + 24 + 128;
        for (int i = 0; i < 4; ++i) {
            signed[security + i] = (byte) ((signed.length - 16) >>> (8 * i));
            signed[security + 4 + i] = (byte) (16 >>> (8 * i));
        }
        File launcher = Files.write(scratch.resolve("signed-launcher.exe"), signed).toFile();
        File jar = Files.write(scratch.resolve("setup.jar"), new byte[] {1}).toFile();
        List<String> warnings = new ArrayList<>();
        InstallerMojo mojo = installer("target", "windows", "launcher", launcher, "jar", jar,
                "outputFile", scratch.resolve("setup.exe").toFile());
        mojo.setLog(new SystemStreamLog() {
            @Override
            public void warn(CharSequence text) {
                warnings.add(text.toString());
            }
        });
        mojo.execute();
        assertTrue(warnings.contains(launcher + ": the launcher's signature is left out; sign the installer instead"), warnings.toString());
    }
}
