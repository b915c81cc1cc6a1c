package org.talve.maven.pack;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.LinkedHashMap;
import java.util.Map;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The packer writes the archives docs/runtime-archive.md gives as test vectors, and reads all of them. */
class DocumentedArchivesTest {
    private static final byte[] STUB = "#!stub\n".getBytes(StandardCharsets.US_ASCII);

    @TempDir
    Path scratch;

    /** Each "#### `name`" heading's indented hexadecimal lines, by name. */
    static Map<String, byte[]> vectors() throws Exception {
        Path document = Paths.get("../../docs/runtime-archive.md");
        assumeTrue(Files.isRegularFile(document), "no source folder around the plugin");
        Map<String, byte[]> vectors = new LinkedHashMap<>();
        String name = null;
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        for (String line : Files.readAllLines(document, StandardCharsets.UTF_8)) {
            if (line.startsWith("#### `")) {
                if (name != null) vectors.put(name, bytes.toByteArray());
                name = line.substring(6, line.length() - 1);
                bytes.reset();
            } else if (name != null && line.startsWith("    ")) {
                for (int i = 4; i + 1 < line.length(); i += 2) bytes.write(Integer.parseInt(line.substring(i, i + 2), 16));
            }
        }
        if (name != null) vectors.put(name, bytes.toByteArray());
        assertEquals(3, vectors.size(), "vectors in " + document);
        return vectors;
    }

    private Path documentedRuntime() throws Exception {
        Path root = scratch.resolve("runtime");
        Files.createDirectories(root.resolve("bin"));
        Files.createDirectories(root.resolve("lib"));
        Files.write(root.resolve("bin/java"), "java launcher\n".getBytes(StandardCharsets.UTF_8)).toFile().setExecutable(true);
        Files.write(root.resolve("jvm.properties"), "java.bin.path=bin/java\n".getBytes(StandardCharsets.UTF_8));
        Files.write(root.resolve("lib/empty"), new byte[0]);
        Files.write(root.resolve("lib/modules"), "modules modules modules modules modules modules\n".getBytes(StandardCharsets.UTF_8));
        Files.createSymbolicLink(root.resolve("lib/java"), Paths.get("../bin/java"));
        return root;
    }

    private static byte[] withStub(byte[] archive) {
        byte[] packed = new byte[STUB.length + archive.length];
        System.arraycopy(STUB, 0, packed, 0, STUB.length);
        System.arraycopy(archive, 0, packed, STUB.length, archive.length);
        return packed;
    }

    @Test
    void writesTheCurrentVectors() throws Exception {
        Map<String, byte[]> vectors = vectors();
        Path runtime = documentedRuntime();
        Path zstd = RuntimeArchive.write(runtime, STUB, "stub", scratch.resolve("zstd"), RuntimeArchive.Compression.zstd()).output;
        assertArrayEquals(withStub(vectors.get("zstd")), Files.readAllBytes(zstd));
        Path deflate = RuntimeArchive.write(runtime, STUB, "stub", scratch.resolve("deflate"), RuntimeArchive.Compression.deflate()).output;
        assertArrayEquals(withStub(vectors.get("deflate")), Files.readAllBytes(deflate));
    }

    @Test
    void readsTheSizeOfEveryVersion() throws Exception {
        for (Map.Entry<String, byte[]> vector : vectors().entrySet()) {
            Path packed = Files.write(scratch.resolve(vector.getKey()), withStub(vector.getValue()));
            // Two folders, three files of at most one block and _jvm itself.
            assertEquals(6 * 4096, RuntimeArchive.unpackedSizeOf(packed), vector.getKey());
        }
    }
}
