package org.talve.maven;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.apache.maven.plugin.logging.SystemStreamLog;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.talve.maven.pack.ModulesImage;
import org.talve.maven.pack.ModulesImage.Compression;

/** A runtime compressed by jlink packs larger: the plugin never asks for it and tells when it is given one. */
class RuntimeCompressionTest {
    @TempDir
    Path scratch;

    /** An image index of resources whose locations carry these compressed sizes (0: not compressed). */
    private static byte[] image(ByteOrder order, long... compressedSizes) {
        ByteArrayOutputStream locations = new ByteArrayOutputStream();
        int[] offsets = new int[compressedSizes.length];
        for (int i = 0; i < compressedSizes.length; ++i) {
            offsets[i] = locations.size();
            locations.write(1 << 3);           // module, one byte
            locations.write(5);
            locations.write(5 << 3 | 3);       // offset, four bytes
            locations.write(new byte[] {0, 1, 2, 3}, 0, 4);
            if (compressedSizes[i] > 0) {
                locations.write(6 << 3 | 1);   // compressed size, two bytes
                locations.write((int) (compressedSizes[i] >> 8));
                locations.write((int) compressedSizes[i]);
            }
            locations.write(7 << 3);           // uncompressed size, one byte
            locations.write(100);
            locations.write(0);
        }
        ByteBuffer buffer = ByteBuffer.allocate(28 + 8 * offsets.length + locations.size() + 16).order(order);
        buffer.putInt(0xCAFEDADA).putInt(1 << 16).putInt(0).putInt(offsets.length).putInt(offsets.length)
                .putInt(locations.size()).putInt(16);
        for (int i = 0; i < offsets.length; ++i) buffer.putInt(i);
        for (int offset : offsets) buffer.putInt(offset);
        buffer.put(locations.toByteArray());
        return buffer.array();
    }

    private Compression of(byte[] bytes) throws Exception {
        return ModulesImage.of(Files.write(scratch.resolve("modules"), bytes));
    }

    @Test
    void aCompressedImageIsToldFromAPlainOne() throws Exception {
        assertEquals(Compression.NONE, of(image(ByteOrder.LITTLE_ENDIAN, 0, 0, 0)));
        assertEquals(Compression.COMPRESSED, of(image(ByteOrder.LITTLE_ENDIAN, 0, 0, 300)));
        assertEquals(Compression.COMPRESSED, of(image(ByteOrder.BIG_ENDIAN, 300)));
        assertEquals(Compression.NONE, of(image(ByteOrder.BIG_ENDIAN, 0)));
    }

    @Test
    void whatIsNoImageIsNeverCalledCompressed() throws Exception {
        byte[] good = image(ByteOrder.LITTLE_ENDIAN, 0, 300);
        assertEquals(Compression.UNKNOWN, of(Arrays.copyOf(good, 40)), "an index cut short");
        byte[] badMagic = good.clone();
        badMagic[0] = 0;
        assertEquals(Compression.UNKNOWN, of(badMagic));
        byte[] wildOffset = good.clone();
        ByteBuffer.wrap(wildOffset).order(ByteOrder.LITTLE_ENDIAN).putInt(28 + 8, 1 << 20);
        assertEquals(Compression.UNKNOWN, of(wildOffset), "a location beyond the index");
        byte[] wildCount = good.clone();
        ByteBuffer.wrap(wildCount).order(ByteOrder.LITTLE_ENDIAN).putInt(16, Integer.MAX_VALUE);
        assertEquals(Compression.UNKNOWN, of(wildCount), "a table larger than the file");
        assertEquals(Compression.UNKNOWN, ModulesImage.of(scratch.resolve("none")));
    }

    @Test
    void jlinkNeverGetsACompressOption() {
        List<String> warnings = new ArrayList<>();
        SystemStreamLog log = new SystemStreamLog() {
            @Override
            public void warn(CharSequence text) {
                warnings.add(text.toString());
            }
        };
        List<String> given = Arrays.asList("--strip-debug", "--compress=2", "--no-header-files", "--compress", "zip-6", "-c", "1",
                "-c=2", "--no-man-pages");
        assertEquals(Arrays.asList("--strip-debug", "--no-header-files", "--no-man-pages"), RuntimeMojo.withoutCompression(given, log));
        assertEquals(4, warnings.size(), warnings.toString());
        assertTrue(warnings.get(1).startsWith("Parameter 'jlinkOptions': --compress zip-6 left out"), warnings.get(1));
        assertEquals(RuntimeMojo.DEFAULT_JLINK_OPTIONS, RuntimeMojo.withoutCompression(RuntimeMojo.DEFAULT_JLINK_OPTIONS, log));
    }
}
