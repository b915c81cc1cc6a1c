package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

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
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The Windows launcher under Wine. Its Java runtime is the test's fake java,
 * which cannot run a jar: it hands the library's communication file and exit
 * script to the launcher as a jar would and records the environment the jar
 * would get, which the library then reads. The fake java reads its
 * environment in the system's ANSI code page, not in UTF-16 as a Java
 * runtime does, so arguments beyond ASCII are left out here.
 */
class WindowsLauncherTest {
    static final List<String> NAMES = Arrays.asList("a b", "100%", "%PATH%", "!x!", "a&b", "a^b", "(paren)", "it's",
        "$HOME", "`id`");

    @Test
    void theWindowsLauncherTakesTheLibrarysFilesAndGivesItsContext(@TempDir Path scratch) throws Exception {
        Path config = Paths.get(System.getProperty("talve.wine.config", ""));
        assumeTrue(Files.isRegularFile(config), "no Windows build tested under Wine");
        Properties wine = new Properties();
        wine.load(Files.newBufferedReader(config));
        Path launcherExe = Paths.get(wine.getProperty("launcher"));
        Path pack = RealLauncher.tool("talve.pack");

        Path runtime = Files.createDirectories(scratch.resolve("runtime/bin"));
        Files.copy(Paths.get(wine.getProperty("probe")), runtime.resolve("java.exe"));
        Files.write(runtime.resolveSibling("jvm.properties"), "java.bin.path=bin/java.exe\n".getBytes(StandardCharsets.UTF_8));
        Path jar = RealLauncher.probeJar(scratch.resolve("probe.jar"));
        Path installer = scratch.resolve("setup.exe");
        RealLauncher.Result made = RealLauncher.exec(Arrays.asList(pack.toString(), "create", "-o", installer.toString(),
            "--launcher", launcherExe.toString(), "--jar", jar.toString()), new LinkedHashMap<String, String>(), null, scratch);
        assertEquals(0, made.code, made.toString());

        Path comm = scratch.resolve("comm.properties");
        new CommunicationFile(comm).set("dir", "C:\\logs\\a=b:c#d")
            .setWithReferences(CommunicationFile.USED_LOG_FILE, CommunicationFile.reference("dir") + "\\x 100%.log").write();
        Path source = Files.write(scratch.resolve("source.txt"), "data".getBytes(StandardCharsets.UTF_8));
        Path out = Files.createDirectories(scratch.resolve("out"));
        ExitScript script = ExitScript.forCmd(scratch.resolve("exit.bat"));
        for (String name : NAMES)
            script.copyFile(ExitScriptTest.windowsPath(source), ExitScriptTest.windowsPath(out.resolve(name)));
        script.write();
        Path answers = Files.write(scratch.resolve("answers.properties"), "a=1\n".getBytes(StandardCharsets.UTF_8));
        Path temp = Files.createDirectories(scratch.resolve("temp"));
        Path record = scratch.resolve("record.txt");

        Map<String, String> env = new LinkedHashMap<>();
        env.put("PATH", "/usr/local/bin:/usr/bin:/bin");
        env.put("HOME", System.getProperty("user.home"));
        env.put("WINEPREFIX", wine.getProperty("prefix"));
        env.put("WINEDEBUG", "-all");
        env.put("WINEDLLOVERRIDES", "mscoree,mshtml=");
        env.put("TALVE_TEST_TEMP", windows(temp));
        env.put("TALVE_TEST_TMP", windows(temp));
        env.put("TALVE_TEST_CommonProgramFiles", "C:\\Program Files\\Common Files");
        env.put("TALVE_TEST_ALLUSERSPROFILE", "C:\\ProgramData");
        env.put("PROBE_RECORD", windows(record));
        env.put("PROBE_COMM", windows(comm));
        env.put("PROBE_EXIT_SCRIPT", windows(scratch.resolve("exit.bat")));
        env.put("PROBE_EXIT", "2");
        List<String> typed = Arrays.asList("-multipleInstance", "-javaHome", windows(runtime.getParent()), "-silent",
            windows(answers), "two words", "100%", "!x!", "a&b", "$HOME", "it's", "-mine", "v");
        List<String> command = new ArrayList<>(Arrays.asList(wine.getProperty("wine"), installer.toString()));
        command.addAll(typed);
        RealLauncher.Result result = RealLauncher.exec(command, env, null, scratch);

        assertEquals(2, result.code, result.toString());
        assertTrue(result.output.contains("The installation log is available at the following location : "
            + "[C:\\logs\\a=b:c#d\\x 100%.log]"), result.toString());
        for (String name : NAMES)
            assertTrue(Files.isRegularFile(out.resolve(name)), name + ": " + result);

        Map<String, String> given = new LinkedHashMap<>();
        for (String line : new String(Files.readAllBytes(record), StandardCharsets.UTF_8).split("\n")) {
            if (!line.startsWith("ENV ")) continue;
            int equals = line.indexOf('=', 5);
            if (equals > 4) given.put(line.substring(4, equals), line.substring(equals + 1).replace("\r", ""));
        }
        LauncherContext context = LauncherContext.of(given, true);
        assertEquals(typed, context.arguments());
        assertEquals(Arrays.asList("two words", "100%", "!x!", "a&b", "$HOME", "it's", "-mine", "v"),
            context.installerArguments());
        assertEquals(windows(answers), context.silentFile().get().toString());
        assertTrue(context.exitScriptPath().toString().endsWith("\\exitscript.bat"), context.exitScriptPath().toString());
    }

    static String windows(Path path) {
        return ExitScriptTest.windowsPath(path).toString();
    }
}
