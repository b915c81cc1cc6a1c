package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Properties;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class SilentAnswersTest {
    static final String KEY = "Summer2024db";

    static Map<String, String> read(String text) throws IOException {
        return SilentAnswers.parse(text.getBytes(StandardCharsets.UTF_8), null).asMap();
    }

    static Map<String, String> map(String... pairs) {
        Map<String, String> map = new LinkedHashMap<>();
        for (int i = 0; i < pairs.length; i += 2) map.put(pairs[i], pairs[i + 1]);
        return map;
    }

    @Test
    void linesAreReadAsTheLauncherReadsThem() throws IOException {
        assertEquals(map("a", "1 2", "b", "x=y", "c", "", "d\\", "e:f \\"),
            read("# comment\n\n  a = 1 2 \t\nno equals sign\n b=x=y\r\nc=\n d\\ = e:f \\\n  #x=1\n"));
        // CR alone ends no line: the whole file is one line, one property.
        assertEquals(map("a", "1\rb=2"), read("a=1\rb=2\r"));
        // ":" is no separator and a backslash continues nothing.
        assertEquals(map("a:1", ""), read("a:1=\n"));
        assertEquals(map("a", "1\\", "b", "2"), read("a=1\\\nb=2"));
    }

    @Test
    void aLineTooLongForTheLaunchersBufferIsLeftOutWhole() throws IOException {
        StringBuilder fits = new StringBuilder("a=");
        while (fits.length() < PropertyLines.LINE_BUFFER - 2) fits.append('x');
        assertEquals(PropertyLines.LINE_BUFFER - 2, read(fits + "\n").get("a").length() + 2);
        assertTrue(read(fits + "x\nb=1\n").equals(map("b", "1")));
    }

    @Test
    void aPropertyGivenTwiceIsRefusedAsTheLauncherRefusesIt() {
        assertThrows(IOException.class, () -> read("a=1\\\na=2\n"));
        assertThrows(IOException.class, () -> read("a=1\na.encrypted=\n"));
    }

    @Test
    void protectedValuesAreDecryptedWithTheUserKeyOrTheLaunchersOwn() throws IOException {
        String text = "db.password.encrypted=" + ProtectedValue.encrypt(KEY, "s3cret = x") + "\n"
            + "token.encrypted=" + ProtectedValue.programKey().encrypt("t") + "\nempty.encrypted=\nplain=p\n";
        SilentAnswers answers = SilentAnswers.parse(text.getBytes(StandardCharsets.UTF_8), KEY);
        assertEquals(map("db.password", "s3cret = x", "token", "t", "empty", "", "plain", "p"), answers.asMap());
        assertTrue(answers.isProtected("db.password"));
        assertFalse(answers.isProtected("plain"));
        IOException noKey = assertThrows(IOException.class, () -> SilentAnswers.parse(text.getBytes(StandardCharsets.UTF_8), null));
        assertTrue(noKey.getMessage().contains("db.password.encrypted"), noKey.getMessage());
        assertThrows(IOException.class, () -> SilentAnswers.parse(text.getBytes(StandardCharsets.UTF_8), "Other2024key"));
    }

    /** The launcher's own check (talve-pack check-silent) and the library agree on what a file holds. */
    @Test
    void theLaunchersCheckAndTheLibraryAgree(@TempDir Path dir) throws Exception {
        Path pack = RealLauncher.tool("talve.pack");
        StringBuilder longest = new StringBuilder("a=");
        while (longest.length() < PropertyLines.LINE_BUFFER - 2) longest.append('x');
        for (String text : Arrays.asList("a=1\\\na=2\n", "a=1\ra=2\r", "a:1\na=2\n", "a=1\n a.encrypted = \n",
                "x=1\n#x=2\nx:=3\n", "a=1\n" + longest + "\n", "a=1\n" + longest + "x\n", "a=1\n" + longest + "x",
                "a=1\n" + longest + "xx")) {
            Path file = Files.write(dir.resolve("answers.properties"), text.getBytes(StandardCharsets.UTF_8));
            RealLauncher.Result check = RealLauncher.exec(Arrays.asList(pack.toString(), "check-silent", "--no-key",
                file.toString()), new LinkedHashMap<String, String>(), null, dir);
            boolean libraryAccepts;
            try {
                read(text);
                libraryAccepts = true;
            } catch (IOException e) {
                libraryAccepts = false;
            }
            assertEquals(check.output.startsWith("result 0"), libraryAccepts, text + ": " + check);
        }
        // Where java.util.Properties sees other keys than the launcher.
        Properties properties = new Properties();
        properties.load(new ByteArrayInputStream("a=1\rb=2\r".getBytes(StandardCharsets.ISO_8859_1)));
        assertEquals("2", properties.getProperty("b"));
        assertEquals(map("a", "1\rb=2"), read("a=1\rb=2\r"));
    }

    @Test
    void recordedAnswersReadBackTheSame(@TempDir Path dir) throws IOException {
        Path file = dir.resolve("record.properties");
        String secret = "p@ss = \"w0rd\" #1 `x` $y 100% !z Grüße";
        new RecordWriter(file, KEY).put("installDir", "/opt/a b=c").putSensitive("db.password", secret)
            .putSensitive("other", "o").put("other", "plain again").write();
        String text = new String(Files.readAllBytes(file), StandardCharsets.UTF_8);
        assertFalse(text.contains("\r") || text.contains("w0rd"), text);
        SilentAnswers answers = SilentAnswers.read(file, KEY);
        assertEquals(map("installDir", "/opt/a b=c", "db.password", secret, "other", "plain again"), answers.asMap());
        assertEquals(secret, SilentAnswers.read(file, KEY).get("db.password").get());

        Path keyless = dir.resolve("keyless.properties");
        new RecordWriter(keyless, null).putSensitive("db.password", secret).write();
        assertEquals(secret, SilentAnswers.read(keyless, null).get("db.password", ""));
    }

    @Test
    void theRecordWriterRefusesWhatTheReaderWouldChange() {
        RecordWriter writer = new RecordWriter(null, KEY);
        for (String[] bad : new String[][] {{"a=b", "v"}, {"#a", "v"}, {" a", "v"}, {"", "v"}, {"a", " v"},
                {"a", "v\t"}, {"a", "two\nlines"}, {"a.encrypted", "v"}, {"keep\uD800", "v"}, {"a", "keep\uDBFF"}}) {
            assertThrows(IllegalArgumentException.class, () -> writer.put(bad[0], bad[1]), Arrays.toString(bad));
        }
        StringBuilder tooLong = new StringBuilder();
        while (tooLong.length() < PropertyLines.LINE_BUFFER) tooLong.append('x');
        assertThrows(IllegalArgumentException.class, () -> writer.put("a", tooLong.toString()));
        assertThrows(IllegalArgumentException.class, () -> writer.putSensitive("a", "keep\uD800"));
    }

    /** Comments and lines without "=" may be in any encoding, as the launcher skips them unread. */
    @Test
    void onlyNamesAndValuesMustBeUtf8() throws IOException {
        byte[] latin1 = "# G\u00e9n\u00e9r\u00e9\nno equals \u00e9\n  #x=\u00e9\na=1\n".getBytes(StandardCharsets.ISO_8859_1);
        assertEquals(map("a", "1"), SilentAnswers.parse(latin1, null).asMap());
        IOException name = assertThrows(IOException.class,
            () -> SilentAnswers.parse("a=1\n\u00e9=2\n".getBytes(StandardCharsets.ISO_8859_1), null));
        assertTrue(name.getMessage().contains("line 2"), name.getMessage());
        IOException value = assertThrows(IOException.class,
            () -> SilentAnswers.parse("a=1\n\nb = \u00e9\n".getBytes(StandardCharsets.ISO_8859_1), null));
        assertTrue(value.getMessage().contains("line 3") && value.getMessage().contains(" b "), value.getMessage());
    }

    /**
     * A key typed in a terminal that is not UTF-8 reaches the jar as the
     * launcher got it: its bytes open the values made with them, and the
     * values the jar records with it open again.
     */
    @Test
    void aKeyThatIsNoUtf8TextWorksAsBytes(@TempDir Path dir) throws IOException {
        byte[] key = "Cl\u00e9Secret1".getBytes(StandardCharsets.ISO_8859_1);
        Map<String, String> env = LauncherContextTest.environment("-silent", "s", "-key");
        env.put("KORVU_SILENT_K", ProtectedValue.programKey().encrypt(key));
        Path silent = Files.write(dir.resolve("silent.properties"),
            ("pw.encrypted=" + ProtectedValue.encrypt(key, "Gr\u00fc\u00dfe") + "\n").getBytes(StandardCharsets.UTF_8));
        env.put("TALVE_SILENT_PROPERTIES", silent.toString());
        env.put("TALVE_RECORD_FILE", dir.resolve("record.properties").toString());
        LauncherContext context = LauncherContext.of(env);
        assertEquals("Gr\u00fc\u00dfe", context.silentAnswers().get("pw", ""));
        context.recordWriter().putSensitive("pw", "again").write();
        assertEquals("again", SilentAnswers.readWithKeyBytes(dir.resolve("record.properties"), key).get("pw", ""));
        assertThrows(IllegalStateException.class, context::userKey);
        // A value that decrypts to bytes that are no UTF-8 is named, not taken for a wrong key.
        Files.write(silent, ("pw.encrypted=" + ProtectedValue.forKey(key).encrypt(new byte[] {(byte) 0xe9}) + "\n")
            .getBytes(StandardCharsets.UTF_8));
        IOException notText = assertThrows(IOException.class, context::silentAnswers);
        assertTrue(notText.getMessage().contains("not UTF-8"), notText.getMessage());
    }
}
