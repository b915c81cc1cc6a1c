package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class ExitScriptTest {
    // What a Windows file name may hold that cmd.exe would take for syntax.
    static final List<String> WINDOWS_NAMES = Arrays.asList("a b", "100%", "%PATH%", "%%", "!x!", "a&b", "a|b", "a^b",
        "(paren)", "it's", "$HOME", "`id`", "semi;colon", "a>b.txt", "trailing\\");

    @Test
    void shKeepsEveryWordOneWord(@TempDir Path dir) throws Exception {
        List<String> words = Arrays.asList("", "a b", "it's", "'", "\"q\"", "$(touch pwned)", "`touch pwned`", "${x}", "!x",
            "100%", "Grüße 世界", "-n", "line\nfeed", "*", "~", "back\\slash");
        ExitScript script = ExitScript.forSh(dir.resolve("exitscript.bat"));
        String print = "for w in \"$@\"; do printf '[%s]' \"$w\"; done > out.txt";
        script.add("sh", concat(Arrays.asList("-c", print, "sh"), words)).write();
        RealLauncher.Result result = RealLauncher.exec(Arrays.asList("/bin/sh", dir.resolve("exitscript.bat").toString()),
            new LinkedHashMap<String, String>(), null, dir);
        assertEquals(0, result.code, result.toString());
        StringBuilder expected = new StringBuilder();
        for (String word : words) expected.append('[').append(word).append(']');
        assertEquals(expected.toString(), new String(Files.readAllBytes(dir.resolve("out.txt")), StandardCharsets.UTF_8));
        assertFalse(Files.exists(dir.resolve("pwned")));
    }

    @Test
    void cmdWordsAreQuotedAndItsScriptHasCrLf() {
        ExitScript script = ExitScript.forCmd(Paths.get("x.bat")).add("del", "/Q", "100% sure\\");
        assertEquals(Arrays.asList("del /Q \"100%% sure\\\\\""), script.commands());
        assertTrue(script.text().startsWith("@echo off\r\nsetlocal EnableExtensions DisableDelayedExpansion\r\n"));
        assertFalse(script.text().replace("\r\n", "").contains("\n"));
        assertTrue(ExitScript.forCmd(Paths.get("x.bat")).add("copy", "Grüße", "b").text().contains("chcp 65001"));
        assertThrows(IllegalArgumentException.class, () -> ExitScript.forCmd(Paths.get("x")).add("del", "a\"b"));
        assertThrows(IllegalArgumentException.class, () -> ExitScript.forCmd(Paths.get("x")).add("del", "a\nb"));
        assertThrows(IllegalArgumentException.class, () -> ExitScript.forSh(Paths.get("x")).add("rm", "a\0b"));
        assertThrows(IllegalArgumentException.class, () -> ExitScript.forSh(Paths.get("x")).add(""));
    }

    /** cmd.exe of Wine runs a script that copies files to and from such names. */
    @Test
    void cmdUnderWineTakesTheFileNamesAsData(@TempDir Path dir) throws Exception {
        Path config = Paths.get(System.getProperty("talve.wine.config", ""));
        assumeTrue(Files.isRegularFile(config), "no Windows build tested under Wine");
        Properties wine = new Properties();
        wine.load(Files.newBufferedReader(config));
        Path source = Files.write(dir.resolve("source.txt"), "data".getBytes(StandardCharsets.UTF_8));
        Path out = Files.createDirectories(dir.resolve("out dir"));
        ExitScript script = ExitScript.forCmd(dir.resolve("exitscript.bat"));
        for (String name : WINDOWS_NAMES) {
            String windowsName = name.replace("\\", "").replace(">", "_").replace("|", "_");
            script.copyFile(windowsPath(source), windowsPath(out.resolve(windowsName)));
        }
        script.deleteFile(windowsPath(source));
        script.write();
        Map<String, String> env = new LinkedHashMap<>(System.getenv());
        env.put("WINEPREFIX", wine.getProperty("prefix"));
        env.put("WINEDEBUG", "-all");
        RealLauncher.Result result = RealLauncher.exec(Arrays.asList(wine.getProperty("wine"), "cmd.exe", "/c",
            windowsPath(dir.resolve("exitscript.bat")).toString()), env, null, dir);
        assertEquals(0, result.code, result.toString());
        for (String name : WINDOWS_NAMES) {
            String windowsName = name.replace("\\", "").replace(">", "_").replace("|", "_");
            assertTrue(Files.isRegularFile(out.resolve(windowsName)), windowsName + ": " + result);
        }
        assertFalse(Files.exists(source), "the last command did not run");
        try (Stream<Path> files = Files.list(out)) {
            assertEquals(WINDOWS_NAMES.size(), files.count(), result.toString());
        }
    }

    /**
     * A line cmd.exe reads whole runs as one command, even with syntax after
     * a word as long as cmd.exe allows; one character more is refused rather
     * than cut into a second command. A name UTF-8 cannot carry is refused
     * rather than written as "?", a wildcard that deletes every like name.
     */
    @Test
    void longLinesAndOddNamesUnderWineDoNothingButWhatWasWritten(@TempDir Path dir) throws Exception {
        Properties wine = wineConfig();
        Path injected = dir.resolve("injected.txt");
        String payload = "& echo INJECTED> " + windowsPath(injected) + " & rem";
        ExitScript script = ExitScript.forCmd(dir.resolve("exitscript.bat"));
        // "echo", a blank and two quotes around the word.
        String word = padded(payload, ExitScript.LONGEST_CMD_LINE - 7);
        script.add("echo", word);
        assertEquals(ExitScript.LONGEST_CMD_LINE, script.commands().get(0).length());
        IllegalArgumentException tooLong = assertThrows(IllegalArgumentException.class,
            () -> script.add("echo", "y" + word));
        assertTrue(tooLong.getMessage().contains("8191"), tooLong.getMessage());
        assertThrows(IllegalArgumentException.class,
            () -> script.addQuietly("echo", word.substring(0, word.length() - 5)));
        assertThrows(IllegalArgumentException.class,
            () -> script.add("del", "/F", "/Q", windowsPath(dir) + "\\keep\uD800"));
        // Wine's cmd reads no UTF-8 script: the name deleted stays ASCII there.
        script.deleteFile(windowsPath(makeKeepFiles(dir, "keepD").resolve("keepD")));
        script.write();
        RealLauncher.Result result = runUnderWine(wine, dir, windowsPath(dir.resolve("exitscript.bat")).toString());
        assertEquals(0, result.code, result.toString());
        assertFalse(Files.exists(injected), "the rest of a cut line ran: " + result);
        assertRemainingKeepFiles(dir, result);
    }

    @Test
    void longLinesAndOddNamesUnderShDoNothingButWhatWasWritten(@TempDir Path dir) throws Exception {
        Path injected = dir.resolve("injected.txt");
        String word = padded("& echo INJECTED> " + injected + " & rem' ; touch " + injected + " ; '", 100000);
        ExitScript script = ExitScript.forSh(dir.resolve("exitscript.bat"));
        script.add("sh", "-c", "printf %s \"$1\" > out.txt", "sh", word);
        assertThrows(IllegalArgumentException.class, () -> script.add("rm", "-f", "--", dir + "/keep\uDC00"));
        script.deleteFile(makeKeepFiles(dir, "keep\u00e9").resolve("keep\u00e9")).write();
        RealLauncher.Result result = RealLauncher.exec(Arrays.asList("/bin/sh", dir.resolve("exitscript.bat").toString()),
            new LinkedHashMap<String, String>(), null, dir);
        assertEquals(0, result.code, result.toString());
        assertEquals(word, new String(Files.readAllBytes(dir.resolve("out.txt")), StandardCharsets.UTF_8));
        assertFalse(Files.exists(injected), result.toString());
        assertRemainingKeepFiles(dir, result);
    }

    private static String padded(String tail, int length) {
        StringBuilder word = new StringBuilder();
        while (word.length() + tail.length() < length) word.append('y');
        return word.append(tail).toString();
    }

    private static Path makeKeepFiles(Path dir, String deleted) throws Exception {
        Path data = Files.createDirectories(dir.resolve("data"));
        for (String name : Arrays.asList("keepA", "keepB", "keepC", deleted))
            Files.write(data.resolve(name), name.getBytes(StandardCharsets.UTF_8));
        return data;
    }

    private static void assertRemainingKeepFiles(Path dir, RealLauncher.Result result) throws Exception {
        try (Stream<Path> files = Files.list(dir.resolve("data"))) {
            assertEquals(Arrays.asList("keepA", "keepB", "keepC"),
                files.map(f -> f.getFileName().toString()).sorted().collect(java.util.stream.Collectors.toList()),
                result.toString());
        }
    }

    private static Properties wineConfig() throws Exception {
        Path config = Paths.get(System.getProperty("talve.wine.config", ""));
        assumeTrue(Files.isRegularFile(config), "no Windows build tested under Wine");
        Properties wine = new Properties();
        wine.load(Files.newBufferedReader(config));
        return wine;
    }

    private static RealLauncher.Result runUnderWine(Properties wine, Path dir, String script) throws Exception {
        Map<String, String> env = new LinkedHashMap<>(System.getenv());
        env.put("WINEPREFIX", wine.getProperty("prefix"));
        env.put("WINEDEBUG", "-all");
        return RealLauncher.exec(Arrays.asList(wine.getProperty("wine"), "cmd.exe", "/c", script), env, null, dir);
    }

    static Path windowsPath(Path linux) {
        return Paths.get("Z:" + linux.toAbsolutePath().toString().replace('/', '\\'));
    }

    static String[] concat(List<String> first, List<String> second) {
        String[] all = new String[first.size() + second.size()];
        for (int i = 0; i < first.size(); ++i) all[i] = first.get(i);
        for (int i = 0; i < second.size(); ++i) all[first.size() + i] = second.get(i);
        return all;
    }
}
