package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The library and the one-file reference in tools/java give the same values
 * as the documented vectors, and each reads the other's.
 */
class ProtectedValueTest {
    static Path source() {
        Path root = Paths.get(System.getProperty("talve.source", ""));
        assumeTrue(Files.isRegularFile(root.resolve("docs/protected-values.md")), "no source folder given");
        return root;
    }

    /** Rows of key kind, key, IV, text and value from the document's vector table. */
    static List<String[]> vectors() throws Exception {
        List<String[]> rows = new ArrayList<>();
        for (String line : Files.readAllLines(source().resolve("docs/protected-values.md"), StandardCharsets.UTF_8)) {
            if (!line.startsWith("| user |") && !line.startsWith("| program |")) continue;
            String[] cells = line.substring(2, line.length() - 2).split(" \\| ");
            for (int i = 0; i < cells.length; ++i)
                cells[i] = cells[i].equals("(empty)") ? "" : cells[i].replace("`", "");
            rows.add(cells);
        }
        assertTrue(rows.size() >= 5, "vectors found: " + rows.size());
        return rows;
    }

    static byte[] hex(String text) {
        byte[] bytes = new byte[text.length() / 2];
        for (int i = 0; i < bytes.length; ++i) bytes[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
        return bytes;
    }

    @Test
    void theLibraryMakesAndReadsTheDocumentedValues() throws Exception {
        for (String[] row : vectors()) {
            ProtectedValue.Key key = row[0].equals("program") ? ProtectedValue.programKey() : ProtectedValue.forKey(row[1]);
            assertEquals(row[4], key.protect(row[3].getBytes(StandardCharsets.UTF_8), hex(row[2])), row[3]);
            assertEquals(row[3], key.decrypt(row[4]));
        }
    }

    @Test
    void theOneFileReferenceGivesTheSameValues(@TempDir Path classes) throws Exception {
        JavaCompiler javac = ToolProvider.getSystemJavaCompiler();
        assumeTrue(javac != null, "no compiler in this runtime");
        Path reference = source().resolve("tools/java/TalveProtectedValue.java");
        assertEquals(0, javac.run(null, null, null, "-d", classes.toString(), reference.toString()));
        try (URLClassLoader loader = new URLClassLoader(new URL[] {classes.toUri().toURL()}, null)) {
            Class<?> type = loader.loadClass("TalveProtectedValue");
            Method keyOf = type.getDeclaredMethod("keyOfArgument", String.class);
            keyOf.setAccessible(true);
            Class<?> keyType = loader.loadClass("TalveProtectedValue$Key");
            Method protect = keyType.getDeclaredMethod("protect", byte[].class, byte[].class);
            protect.setAccessible(true);
            for (String[] row : vectors()) {
                Object key = keyOf.invoke(null, row[0].equals("program") ? "--program-key" : row[1]);
                assertEquals(row[4], protect.invoke(key, row[3].getBytes(StandardCharsets.UTF_8), hex(row[2])));
            }
            String fromReference = (String) type.getMethod("encrypt", String.class, String.class)
                .invoke(null, "Summer2024db", "Grüße, \"x\" = y");
            assertEquals("Grüße, \"x\" = y", ProtectedValue.decrypt("Summer2024db", fromReference));
            String fromLibrary = ProtectedValue.encrypt("Summer2024db", "back");
            assertEquals("back", type.getMethod("decrypt", String.class, String.class).invoke(null, "Summer2024db", fromLibrary));
        }
    }

    /** Every key the launcher's prompt can take, and none it cannot. */
    @Test
    void onlyKeysTheLauncherCanTakeAreTaken() {
        byte[] longest = new byte[ProtectedValue.LONGEST_KEY];
        java.util.Arrays.fill(longest, (byte) 'k');
        longest[0] = (byte) 0xe9;
        ProtectedValue.checkKey(longest);
        ProtectedValue.checkKey("~ \u00ff".getBytes(StandardCharsets.ISO_8859_1));
        for (byte[] key : new byte[][] {new byte[0], java.util.Arrays.copyOf(longest, 201), "Ab1\tcdefg".getBytes(StandardCharsets.UTF_8),
                {'a', 0x7f}, {'a', 0}}) {
            assertThrows(IllegalArgumentException.class, () -> ProtectedValue.forKey(key), new String(key, StandardCharsets.ISO_8859_1));
        }
        assertThrows(IllegalArgumentException.class, () -> ProtectedValue.encrypt("Key\uD800x2024", "text"));
        assertThrows(IllegalArgumentException.class, () -> ProtectedValue.programKey().encrypt("text\uDFFF"));
    }

    @Test
    void everyDamageGivesTheOneAnswer() {
        String value = ProtectedValue.programKey().encrypt("Alice2024key");
        assertEquals("Alice2024key", ProtectedValue.decodeSilentKey(value));
        String flipped = value.substring(0, 10) + (value.charAt(10) == 'q' ? '7' : 'q') + value.substring(11, value.length() - 1);
        flipped += ProtectedValue.checkCharacter(flipped);
        for (String damaged : new String[] {flipped, value.substring(0, 19), "XeM3" + value.substring(4), ""}) {
            IllegalArgumentException refused = assertThrows(IllegalArgumentException.class,
                () -> ProtectedValue.programKey().decrypt(damaged));
            assertEquals("the key does not fit this value", refused.getMessage());
        }
        assertFalse(ProtectedValue.programKey().fits(flipped));
    }
}
