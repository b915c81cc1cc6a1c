package org.talve.maven.pack;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.TimeZone;
import java.util.jar.JarInputStream;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class MergedJarTest {
    private static final String MANIFEST = "Manifest-Version: 1.0\r\nMain-Class: com.example.Main\r\n\r\n";

    @TempDir
    Path scratch;

    /** A jar of name/text pairs, written in the order given. */
    private Path jar(String name, String... entries) throws IOException {
        Path file = scratch.resolve(name);
        try (ZipOutputStream zip = new ZipOutputStream(Files.newOutputStream(file))) {
            for (int i = 0; i < entries.length; i += 2) {
                zip.putNextEntry(new ZipEntry(entries[i]));
                zip.write(entries[i + 1].getBytes(StandardCharsets.UTF_8));
                zip.closeEntry();
            }
        }
        return file;
    }

    private static String text(ZipFile zip, String name) throws IOException {
        ZipEntry entry = zip.getEntry(name);
        if (entry == null) return null;
        try (InputStream in = zip.getInputStream(entry)) {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            for (int b; (b = in.read()) >= 0;) bytes.write(b);
            return new String(bytes.toByteArray(), StandardCharsets.UTF_8);
        }
    }

    @Test
    void theProjectJarRunsWithItsDependenciesInside() throws Exception {
        Path project = jar("app.jar", "META-INF/MANIFEST.MF", MANIFEST, "com/example/Main.class", "main",
                "META-INF/services/org.example.Plugin", "com.example.Mine", "config.txt", "the project's");
        Path library = jar("lib.jar", "META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: org.lib.Tool\r\n\r\n",
                "META-INF/LIB.SF", "signature", "META-INF/LIB.RSA", "certificate", "META-INF/INDEX.LIST", "index",
                "module-info.class", "module", "org/lib/Tool.class", "tool", "com/example/Main.class", "main",
                "META-INF/services/org.example.Plugin", "org.lib.Theirs\n", "config.txt", "the library's",
                "META-INF/maven/org.lib/lib/pom.properties", "version=1");
        Path output = scratch.resolve("out/app.jar");
        MergedJar merged = new MergedJar(project).add(library);
        merged.write(output);

        try (JarInputStream in = new JarInputStream(Files.newInputStream(output))) {
            assertEquals("com.example.Main", in.getManifest().getMainAttributes().getValue("Main-Class"));
        }
        try (ZipFile zip = new ZipFile(output.toFile())) {
            assertEquals(MANIFEST, text(zip, "META-INF/MANIFEST.MF"));
            assertEquals("tool", text(zip, "org/lib/Tool.class"));
            assertEquals("version=1", text(zip, "META-INF/maven/org.lib/lib/pom.properties"));
            assertEquals("com.example.Mine\norg.lib.Theirs\n", text(zip, "META-INF/services/org.example.Plugin"));
            assertEquals("the project's", text(zip, "config.txt"));
            for (String dropped : new String[] {"META-INF/LIB.SF", "META-INF/LIB.RSA", "META-INF/INDEX.LIST", "module-info.class"}) {
                assertEquals(null, zip.getEntry(dropped), dropped + " of a dependency was kept");
            }
        }
        assertEquals(1, merged.warnings().size(), merged.warnings().toString());
        assertTrue(merged.warnings().get(0).startsWith("config.txt differs in app.jar and lib.jar"), merged.warnings().get(0));
    }

    @Test
    void twoDifferentClassesOfOneNameStopTheMerge() throws Exception {
        Path project = jar("app.jar", "META-INF/MANIFEST.MF", MANIFEST, "com/example/Main.class", "main");
        Path first = jar("first-1.0.jar", "org/shared/Util.class", "one");
        Path second = jar("second-2.0.jar", "org/shared/Util.class", "another");
        Path output = scratch.resolve("merged.jar");
        PackException failure = assertThrows(PackException.class, () -> new MergedJar(project).add(first).add(second).write(output));
        assertTrue(failure.getMessage().contains("two different classes of the same name, org/shared/Util.class, in first-1.0.jar and "
                + "second-2.0.jar"), failure.getMessage());
        assertFalse(Files.exists(output));
        try (java.util.stream.Stream<Path> left = Files.list(scratch)) {
            assertEquals(3, left.count(), "a partial output was left behind");
        }
    }

    @Test
    void theSameInputsGiveTheSameBytesAnywhereAtAnyTime() throws Exception {
        Path project = jar("app.jar", "META-INF/MANIFEST.MF", MANIFEST, "b/B.class", "b", "a/A.class", "a");
        Path library = jar("lib.jar", "z/Z.class", "z", "c/C.class", "c");
        Path reordered = scratch.resolve("reordered");
        Files.createDirectories(reordered);
        Path project2 = Files.move(jar("app2.jar", "a/A.class", "a", "META-INF/MANIFEST.MF", MANIFEST, "b/B.class", "b"),
                reordered.resolve("app.jar"));
        Files.setLastModifiedTime(project2, FileTime.fromMillis(0));

        long time = 1_767_225_600_000L; // 2026-01-01T00:00:00Z
        TimeZone zone = TimeZone.getDefault();
        List<byte[]> outputs = new ArrayList<>();
        try {
            for (String[] run : new String[][] {{"UTC", "first"}, {"Pacific/Auckland", "second"}, {"America/Los_Angeles", "third"}}) {
                TimeZone.setDefault(TimeZone.getTimeZone(run[0]));
                Path output = scratch.resolve(run[1] + ".jar");
                new MergedJar(run[1].equals("second") ? project2 : project).add(library).time(time).write(output);
                outputs.add(Files.readAllBytes(output));
            }
        } finally {
            TimeZone.setDefault(zone);
        }
        assertArrayEquals(outputs.get(0), outputs.get(1));
        assertArrayEquals(outputs.get(0), outputs.get(2));

        List<String> names = new ArrayList<>();
        try (ZipFile zip = new ZipFile(scratch.resolve("first.jar").toFile())) {
            for (ZipEntry entry : Collections.list(zip.entries())) {
                names.add(entry.getName());
                assertEquals(time, entry.getTime() + zone.getOffset(entry.getTime()), entry.getName() + " carries another time");
            }
        }
        assertEquals(java.util.Arrays.asList("META-INF/", "META-INF/MANIFEST.MF", "a/A.class", "b/B.class", "c/C.class", "z/Z.class"), names);
    }
}
