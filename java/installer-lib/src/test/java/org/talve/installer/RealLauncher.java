package org.talve.installer;

import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.jar.Attributes;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;
import java.util.jar.Manifest;
import java.util.stream.Stream;

/** The Linux launcher of this build running the probe jar on this machine's Java runtime. */
final class RealLauncher {
    final Path scratch;
    final Path launcher;
    final Path pack;
    final Path runtime;
    final Path jar;
    final Path temp;
    final Path plan;
    final Path report;

    static final class Result {
        final int code;
        final String output;

        Result(int code, String output) {
            this.code = code;
            this.output = output;
        }

        @Override
        public String toString() {
            return "exit code " + code + ", output:\n" + output;
        }
    }

    RealLauncher(Path scratch) throws IOException {
        this.scratch = scratch;
        launcher = tool("talve.launcher");
        pack = tool("talve.pack");
        temp = Files.createDirectories(scratch.resolve("temp"));
        runtime = fakeRuntime(scratch.resolve("runtime"));
        jar = probeJar(scratch.resolve("probe.jar"));
        plan = scratch.resolve("plan.xml");
        report = scratch.resolve("report.xml");
    }

    static Path tool(String property) {
        String path = System.getProperty(property, "");
        assumeTrue(!path.isEmpty() && !path.startsWith("${") && Files.isExecutable(Paths.get(path)),
            "no " + property + ": run through the build's test (ctest -R java)");
        return Paths.get(path);
    }

    /** A runtime home the launcher accepts whose bin/java is a link to the running JDK's. */
    static Path fakeRuntime(Path home) throws IOException {
        Files.createDirectories(home.resolve("bin"));
        Files.createSymbolicLink(home.resolve("bin/java"), Paths.get(System.getProperty("java.home"), "bin", "java"));
        Files.write(home.resolve("jvm.properties"), "java.bin.path=bin/java\n".getBytes(StandardCharsets.UTF_8));
        return home;
    }

    /** The library and the probe, in one jar whose main class is the probe. */
    static Path probeJar(Path jar) throws IOException {
        Manifest manifest = new Manifest();
        manifest.getMainAttributes().put(Attributes.Name.MANIFEST_VERSION, "1.0");
        manifest.getMainAttributes().put(Attributes.Name.MAIN_CLASS, ProbeInstaller.class.getName());
        try (JarOutputStream out = new JarOutputStream(Files.newOutputStream(jar), manifest)) {
            for (Class<?> from : Arrays.<Class<?>>asList(LauncherContext.class, ProbeInstaller.class)) {
                Path root;
                try {
                    root = Paths.get(from.getProtectionDomain().getCodeSource().getLocation().toURI());
                } catch (java.net.URISyntaxException e) {
                    throw new IOException(e);
                }
                try (Stream<Path> files = Files.walk(root)) {
                    for (Path file : (Iterable<Path>) files.filter(Files::isRegularFile)::iterator) {
                        String name = root.relativize(file).toString().replace('\\', '/');
                        if (!name.endsWith(".class")) continue;
                        out.putNextEntry(new JarEntry(name));
                        out.write(Files.readAllBytes(file));
                        out.closeEntry();
                    }
                }
            }
        }
        return jar;
    }

    Path installer(String name, String... options) throws IOException, InterruptedException {
        Path out = scratch.resolve(name);
        List<String> command = new ArrayList<>(Arrays.asList(pack.toString(), "create", "-o", out.toString(),
            "--launcher", launcher.toString(), "--jar", jar.toString()));
        command.addAll(Arrays.asList(options));
        Result made = exec(command, new LinkedHashMap<String, String>(), null, scratch);
        if (made.code != 0) throw new IOException("talve-pack create: " + made);
        return out;
    }

    Map<String, String> environment() {
        Map<String, String> env = new LinkedHashMap<>();
        env.put("PATH", "/usr/local/bin:/usr/bin:/bin");
        env.put("HOME", scratch.toString());
        // Java reads the environment in the locale's encoding.
        env.put("LANG", "C.UTF-8");
        env.put("TEMP", temp.toString());
        env.put("KORVU_INVENTORY_LOCATION", scratch.resolve("inventory").toString());
        env.put("CommonProgramFiles", scratch.resolve("common").toString());
        env.put("TALVE_TEST_PLAN", plan.toString());
        return env;
    }

    void writePlan(Properties steps) throws IOException {
        steps.setProperty("report", report.toString());
        try (OutputStream out = Files.newOutputStream(plan)) {
            steps.storeToXML(out, null, "UTF-8");
        }
        Files.deleteIfExists(report);
    }

    Properties report() throws IOException {
        return ProbeInstaller.load(report);
    }

    /** Runs an installer with -multipleInstance and the arguments, from the scratch folder. */
    Result run(Path installer, Map<String, String> env, String stdin, String... arguments)
            throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(installer.toString());
        command.add("-multipleInstance");
        command.addAll(Arrays.asList(arguments));
        return exec(command, env, stdin, scratch);
    }

    static Result exec(List<String> command, Map<String, String> env, String stdin, Path directory)
            throws IOException, InterruptedException {
        ProcessBuilder builder = new ProcessBuilder(command).directory(directory.toFile()).redirectErrorStream(true);
        if (!env.isEmpty()) {
            builder.environment().clear();
            builder.environment().putAll(env);
        }
        Process process = builder.start();
        try (OutputStream in = process.getOutputStream()) {
            if (stdin != null) in.write(stdin.getBytes(StandardCharsets.UTF_8));
        }
        ByteArrayOutputStream output = new ByteArrayOutputStream();
        try (InputStream out = process.getInputStream()) {
            byte[] buffer = new byte[8192];
            for (int n; (n = out.read(buffer)) > 0;) output.write(buffer, 0, n);
        }
        return new Result(process.waitFor(), new String(output.toByteArray(), StandardCharsets.UTF_8));
    }
}
