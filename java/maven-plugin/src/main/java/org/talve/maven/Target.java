package org.talve.maven;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.Locale;

import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;

/** The system an installer runs on, and the launcher and unpacker this plugin carries for it. */
enum Target {
    LINUX("linux", "talve-launcher", "talve-unpack", "jvm", "bin/java", ""),
    WINDOWS("windows", "talve-launcher.exe", "talve-unpack.exe", "jvm.exe", "bin/java.exe", ".exe");

    final String id;
    final String launcherResource;
    final String unpackerResource;
    /** The packed runtime's file name, which the installer stores and runs. */
    final String runtimeFileName;
    final String javaLauncher;
    final String programSuffix;

    Target(String id, String launcherResource, String unpackerResource, String runtimeFileName, String javaLauncher,
           String programSuffix) {
        this.id = id;
        this.launcherResource = launcherResource;
        this.unpackerResource = unpackerResource;
        this.runtimeFileName = runtimeFileName;
        this.javaLauncher = javaLauncher;
        this.programSuffix = programSuffix;
    }

    /** The system jlink makes runtimes for here; null on any other. */
    static Target host() {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT);
        return os.startsWith("windows") ? WINDOWS : os.startsWith("linux") ? LINUX : null;
    }

    static Target parse(String text) throws MojoFailureException {
        String id = text == null ? "" : text.trim().toLowerCase(Locale.ROOT);
        for (Target target : values()) {
            if (target.id.equals(id)) return target;
        }
        throw new MojoFailureException("Parameter 'target': '" + text + "' is no target system; use linux or windows");
    }

    byte[] launcher() throws MojoExecutionException {
        return resource(launcherResource);
    }

    byte[] unpacker() throws MojoExecutionException {
        return resource(unpackerResource);
    }

    private byte[] resource(String name) throws MojoExecutionException {
        return bundled(id + "/" + name, "the " + id + " " + name, "'launcher' or 'unpacker'");
    }

    /** A file the plugin carries under stubs/; the message says which parameter gives one instead. */
    static byte[] bundled(String name, String what, String parameter) throws MojoExecutionException {
        String path = "stubs/" + name;
        try (InputStream in = Target.class.getResourceAsStream(path)) {
            if (in == null) {
                throw new MojoExecutionException("This talve-maven-plugin was built without " + what
                        + "; build the plugin after the CMake build, or give your own with the " + parameter + " parameter");
            }
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            byte[] buffer = new byte[1 << 16];
            for (int n; (n = in.read(buffer)) > 0;) bytes.write(buffer, 0, n);
            return bytes.toByteArray();
        } catch (IOException e) {
            throw new MojoExecutionException("Cannot read the plugin's " + path + ": " + e.getMessage(), e);
        }
    }
}
