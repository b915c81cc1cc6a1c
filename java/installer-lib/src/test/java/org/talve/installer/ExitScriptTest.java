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
