package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;
import org.junit.jupiter.api.io.TempDir;

class ProductRecordsTest {
    @TempDir
    Path dir;

    Path runtime() throws IOException {
        Path runtime = Files.createDirectories(dir.resolve("temp/_jvm"));
        Files.createDirectories(runtime.resolve("bin"));
        Files.createDirectories(runtime.resolve("lib"));
        Files.write(runtime.resolve("bin/java"), "#!/bin/sh\n".getBytes(StandardCharsets.UTF_8));
        Files.setPosixFilePermissions(runtime.resolve("bin/java"), PosixFilePermissions.fromString("rwxr-x---"));
        Files.write(runtime.resolve("jvm.properties"), "java.bin.path=bin/java\n".getBytes(StandardCharsets.UTF_8));
        Files.createSymbolicLink(runtime.resolve("lib/relative"), Paths.get("../bin/java"));
        Files.createSymbolicLink(runtime.resolve("lib/inside"), runtime.resolve("bin"));
        Files.createSymbolicLink(runtime.resolve("lib/outside"), Paths.get("/usr/bin"));
        Files.setPosixFilePermissions(runtime.resolve("lib"), PosixFilePermissions.fromString("r-xr-xr-x"));
        return runtime;
    }

    @Test
    void theCopyKeepsLinksBitsAndProperties() throws IOException {
        Path runtime = runtime();
        Path home = dir.resolve("product home");
        Path kept = ProductRecords.copyRuntime(runtime, home);
        assertEquals(home.resolve("_jvm"), kept);
        assertEquals("rwxr-x---", PosixFilePermissions.toString(Files.getPosixFilePermissions(kept.resolve("bin/java"))));
        assertEquals("r-xr-xr-x", PosixFilePermissions.toString(Files.getPosixFilePermissions(kept.resolve("lib"))));
        assertEquals(Paths.get("../bin/java"), Files.readSymbolicLink(kept.resolve("lib/relative")));
        // A link into the runtime must not lead back into the temporary directory, which goes away.
        assertEquals(kept.resolve("bin").toRealPath(), kept.resolve("lib/inside").toRealPath());
        assertEquals(Paths.get("/usr/bin"), Files.readSymbolicLink(kept.resolve("lib/outside")));
        assertTrue(Files.isRegularFile(kept.resolve("jvm.properties")));

        // Again, over the first copy; and a reused runtime stays where it is.
        Files.write(runtime.resolve("new-file"), new byte[0]);
        ProductRecords.copyRuntime(runtime, home);
        assertTrue(Files.exists(kept.resolve("new-file")));
        assertEquals(kept, ProductRecords.copyRuntime(kept, home));
        try (Stream<Path> left = Files.list(home)) {
            assertEquals(1, left.count(), "only _jvm in the home");
        }
        Files.setPosixFilePermissions(runtime.resolve("lib"), PosixFilePermissions.fromString("rwxr-xr-x"));
        Files.setPosixFilePermissions(kept.resolve("lib"), PosixFilePermissions.fromString("rwxr-xr-x"));
    }

    /** What would make the copy wait for ever, or lead elsewhere from the copy, is refused by name. */
    @Test
    @Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
    void pipesAndLinksLeadingOutAreRefused() throws Exception {
        Files.write(dir.resolve("outside.txt"), new byte[0]);
        for (String entry : new String[] {"lib/cacerts -> ../../outside.txt", "lib/climb -> ../lib/../../outside.txt",
                "lib/through -> inside/../../outside.txt", "lib/fifo"}) {
            Path runtime = runtime();
            Files.setPosixFilePermissions(runtime.resolve("lib"), PosixFilePermissions.fromString("rwxr-xr-x"));
            // Where "through" leads once lib/inside is followed: written, it stays inside.
            Files.write(dir.resolve("temp/outside.txt"), new byte[0]);
            String[] parts = entry.split(" -> ");
            Path made = runtime.resolve(parts[0]);
            if (parts.length == 2) {
                Files.createSymbolicLink(made, Paths.get(parts[1]));
            } else {
                assertEquals(0, new ProcessBuilder("mkfifo", made.toString()).start().waitFor());
            }
            Path home = dir.resolve("home");
            IOException refused = assertThrows(IOException.class, () -> ProductRecords.copyRuntime(runtime, home), entry);
            assertTrue(refused.getMessage().contains(parts[0]), refused.getMessage());
            try (Stream<Path> left = Files.list(home)) {
                assertEquals(0, left.count(), "nothing of the copy is left");
            }
            ProductRecords.deleteTree(dir.resolve("temp"));
        }
    }

    @Test
    void aFolderWithoutJvmPropertiesIsNoRuntime() throws IOException {
        Path notRuntime = Files.createDirectories(dir.resolve("jdk"));
        assertThrows(IOException.class, () -> ProductRecords.copyRuntime(notRuntime, dir.resolve("home")));
        assertFalse(Files.exists(dir.resolve("home/_jvm")));
    }

    static ProductRecords records(boolean windows, String... pairs) {
        Map<String, String> env = new LinkedHashMap<>();
        for (int i = 0; i < pairs.length; i += 2) env.put(pairs[i], pairs[i + 1]);
        return new ProductRecords(env, windows);
    }

    @Test
    void recordsGoWhereTheLauncherLooksFirst() {
        assertEquals(Paths.get("/inv"), records(false, "KORVU_INVENTORY_LOCATION", "/inv", "CommonProgramFiles", "/c").recordDirectory());
        assertEquals(Paths.get("/c/talve"), records(false, "KORVU_INVENTORY_LOCATION", "", "CommonProgramFiles", "/c").recordDirectory());
        assertEquals(Paths.get("/var/lib/talve"), records(false).recordDirectory());
        assertEquals(Paths.get("/pd", "talve"), records(true, "ALLUSERSPROFILE", "/pd").recordDirectory());
        assertThrows(MissingLauncherVariableException.class, () -> records(true).recordDirectory());
        assertThrows(IllegalArgumentException.class, () -> records(false).recordFile("a/b"));
    }

    @Test
    void aRecordIsTheHomeAndALineFeed() throws IOException {
        ProductRecords records = records(false, "KORVU_INVENTORY_LOCATION", dir.resolve("inventory").toString());
        Path home = dir.resolve("Grüße home");
        Path record = records.writeRecord("product", home.resolve("sub/.."));
        assertEquals(dir.resolve("inventory/product.talve"), record);
        assertEquals(home + "\n", new String(Files.readAllBytes(record), StandardCharsets.UTF_8));
        assertEquals(home, records.readRecord("product").get());
        assertThrows(IllegalArgumentException.class, () -> records.writeRecord("product", dir.resolve("a\nb")));
        StringBuilder deep = new StringBuilder("/");
        while (deep.length() < ProductRecords.LONGEST_RUNTIME_PATH) deep.append('d');
        assertThrows(IllegalArgumentException.class, () -> records.writeRecord("product", Paths.get(deep.toString())));
        assertEquals(home, records.readRecord("product").get(), "a refused record leaves the old one");
        assertTrue(records.removeRecord("product"));
        assertFalse(records.removeRecord("product"));
        try (Stream<Path> left = Files.list(dir.resolve("inventory"))) {
            assertEquals(0, left.count());
        }
    }
}
