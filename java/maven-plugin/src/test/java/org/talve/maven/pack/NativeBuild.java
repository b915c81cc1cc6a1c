package org.talve.maven.pack;

import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** The CMake build's programs, as the Maven build was told where they are. */
final class NativeBuild {
    private NativeBuild() {
    }

    static Path property(String name) {
        String value = System.getProperty(name, "");
        assumeTrue(!value.isEmpty() && !value.contains("${"), "no " + name + " given to this Maven build");
        return Paths.get(value);
    }

    static Path program(String property, String name) {
        Path program = property(property).resolve(name);
        assumeTrue(Files.isRegularFile(program), program + " is not built");
        return program;
    }

    static Path linuxBin(String name) {
        return program("talve.bin.dir", name);
    }

    static Path windowsBin(String name) {
        return program("talve.windows.bin.dir", name);
    }

    /** A file the integration test's project built, under its target folder. */
    static Path builtByIt(String project, String name) {
        Path file = property("talve.it.dir").resolve(project).resolve("target").resolve(name);
        org.junit.jupiter.api.Assertions.assertTrue(Files.isRegularFile(file),
                file + " was not built; see " + property("talve.it.dir").resolve(project).resolve("build.log"));
        return file;
    }

    static boolean isEmpty(Path folder) throws IOException {
        try (java.util.stream.Stream<Path> left = Files.list(folder)) {
            return !left.findAny().isPresent();
        }
    }

    static final class Run {
        final int code;
        final String output;

        Run(int code, String output) {
            this.code = code;
            this.output = output;
        }
    }

    /** Runs talve-pack with these arguments in folder, output and errors together. */
    static Run talvePack(Path folder, String... arguments) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(property("talve.pack").toString());
        command.addAll(Arrays.asList(arguments));
        return run(command, folder);
    }

    static Run run(List<String> command, Path folder) throws IOException, InterruptedException {
        return run(command, folder, java.util.Collections.<String, String>emptyMap());
    }

    /** Runs command in folder with these variables added to the environment. */
    static Run run(List<String> command, Path folder, java.util.Map<String, String> environment)
            throws IOException, InterruptedException {
        ProcessBuilder builder = new ProcessBuilder(command).directory(folder.toFile()).redirectErrorStream(true);
        builder.environment().putAll(environment);
        Process process = builder.start();
        process.getOutputStream().close();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream in = process.getInputStream()) {
            byte[] buffer = new byte[8192];
            for (int n; (n = in.read(buffer)) > 0;) out.write(buffer, 0, n);
        }
        return new Run(process.waitFor(), new String(out.toByteArray(), StandardCharsets.UTF_8));
    }
}
