package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** A jar built on the library, run by the real Linux launcher on this machine's Java runtime. */
class LauncherEndToEndTest {
    static final String KEY = "Summer2024db";
    static final List<String> AWKWARD = Arrays.asList("two words", "say \"hi\"", "it's", "100%", "%PATH%", "!bang!",
        "$HOME", "`id`", "a;b&c|d", "Grüße 世界", "");

    @TempDir
    static Path scratch;
    static RealLauncher real;
    static Path installer;

    @BeforeAll
    static void makeInstaller() throws Exception {
        real = new RealLauncher(scratch);
        installer = real.installer("setup");
    }

    @Test
    void theJarGetsTheCommandLineAsTypedAndTellsTheLaunchersOptionsApart() throws Exception {
        real.writePlan(new Properties());
        List<String> arguments = new ArrayList<>(Arrays.asList("-javaHome", real.runtime.toString(), "-noSplashScreen"));
        arguments.addAll(AWKWARD);
        arguments.addAll(Arrays.asList("-key", "-mine", "value"));
        RealLauncher.Result result = real.run(installer, real.environment(), null, arguments.toArray(new String[0]));
        assertEquals(0, result.code, result.toString());

        Properties report = real.report();
        List<String> expected = new ArrayList<>(Arrays.asList("-multipleInstance"));
        expected.addAll(arguments);
        assertEquals(expected, list(report, "arg."));
        List<String> mine = new ArrayList<>(AWKWARD);
        mine.addAll(Arrays.asList("-mine", "value"));
        assertEquals(mine, list(report, "mine."));
        assertEquals(real.runtime.toString(), report.getProperty("option-javaHome"));
        assertEquals("", report.getProperty("option-key"));
        assertEquals("", report.getProperty("option-noSplashScreen"));
        assertEquals("true", report.getProperty("underLauncher"));
        assertEquals(real.scratch.toString(), report.getProperty("launchDirectory"));
        assertEquals(installer.toString(), report.getProperty("launcherFile"));
        assertEquals(real.runtime.toString(), report.getProperty("runtimeHome"));
        assertTrue(Paths.get(report.getProperty("temp")).startsWith(real.temp), report.getProperty("temp"));
    }

    static Stream<Arguments> communicationValues() {
        return Stream.of(
            Arguments.of(new String[] {CommunicationFile.USED_LOG_FILE, "C:\\logs\\x.log"}, "C:\\logs\\x.log"),
            Arguments.of(new String[] {CommunicationFile.USED_LOG_FILE, "/tmp/a=b:c#d \\ e\\"}, "/tmp/a=b:c#d \\ e\\"),
            Arguments.of(new String[] {CommunicationFile.USED_LOG_FILE, "#@@ }? ?{x and ?{y"}, "#@@ }? ?{x and ?{y"),
            Arguments.of(new String[] {CommunicationFile.USED_LOG_FILE, "/tmp/Grüße/世界.log"}, "/tmp/Grüße/世界.log"),
            Arguments.of(new String[] {"dir", "/var/log/a b:c=d", "=" + CommunicationFile.USED_LOG_FILE,
                CommunicationFile.reference("dir") + "/x.log"}, "/var/log/a b:c=d/x.log"),
            Arguments.of(new String[] {"=" + CommunicationFile.USED_LOG_FILE,
                CommunicationFile.reference("absent") + "/x.log"}, "@@/x.log"),
            Arguments.of(new String[] {"#dir:\\", "/d", "=" + CommunicationFile.USED_LOG_FILE,
                CommunicationFile.reference("#dir:\\") + "/x.log"}, "/d/x.log"));
    }

    /** Pairs of key and value; a key beginning with "=" is set with its references. */
    @ParameterizedTest
    @MethodSource("communicationValues")
    void theLauncherReadsTheCommunicationFileBackExactly(String[] pairs, String shown) throws Exception {
        Properties plan = new Properties();
        for (int i = 0; i < pairs.length / 2; ++i) {
            String key = pairs[2 * i];
            if (key.startsWith("=")) {
                key = key.substring(1);
                plan.setProperty("comm.references." + i, "yes");
            }
            plan.setProperty("comm.key." + i, key);
            plan.setProperty("comm.value." + i, pairs[2 * i + 1]);
        }
        plan.setProperty("exit", "2");
        real.writePlan(plan);
        Path answers = Files.write(real.scratch.resolve("answers.properties"), "a=1\n".getBytes(StandardCharsets.UTF_8));
        RealLauncher.Result result = real.run(installer, real.environment(), null, "-javaHome", real.runtime.toString(),
            "-silent", answers.toString());
        assertEquals(2, result.code, result.toString());
        assertTrue(result.output.contains("The installation log is available at the following location : [" + shown + "]\n"),
            result.toString());
    }

    @Test
    void exitScriptCommandsRunWithTheirFileNamesAsData() throws Exception {
        Path out = Files.createDirectories(real.scratch.resolve("exit script out"));
        List<String> names = Arrays.asList("a b", "it's", "$(touch pwned)", "`touch pwned`", "; touch pwned", "100%",
            "!x", "Grüße 世界", "-n", "line\nfeed", "back\\slash\\");
        Properties plan = new Properties();
        for (int i = 0; i < names.size(); ++i) {
            List<String> words = Arrays.asList("sh", "-c", "printf '%s' \"$1\" > \"$2\"", "sh", names.get(i),
                out.resolve(names.get(i)).toString());
            for (int w = 0; w < words.size(); ++w) plan.setProperty("script." + i + "." + w, words.get(w));
        }
        real.writePlan(plan);
        RealLauncher.Result result = real.run(installer, real.environment(), null, "-javaHome", real.runtime.toString());
        assertEquals(0, result.code, result.toString());
        for (String name : names)
            assertEquals(name, new String(Files.readAllBytes(out.resolve(name)), StandardCharsets.UTF_8), result.toString());
        try (Stream<Path> all = Files.walk(real.scratch)) {
            assertFalse(all.anyMatch(p -> p.getFileName().toString().equals("pwned")), "a file name became a command");
        }
    }

    @Test
    void aRestartCodeMakesTheLauncherRestartThroughShutdown() throws Exception {
        Path fake = real.scratch.resolve("fake-shutdown");
        Path record = real.scratch.resolve("shutdown-record.txt");
        Files.write(fake, "#!/bin/sh\necho \"$@\" >> \"$TALVE_TEST_SHUTDOWN_RECORD\"\n".getBytes(StandardCharsets.UTF_8));
        assertTrue(fake.toFile().setExecutable(true));
        Properties plan = new Properties();
        plan.setProperty("exit", Integer.toString(ExitCode.RESTART));
        real.writePlan(plan);
        Map<String, String> env = real.environment();
        env.put("TALVE_TEST_SHUTDOWN_RECORD", record.toString());
        Path fakeBin = Files.createDirectories(real.scratch.resolve("fakebin"));
        Files.copy(fake, fakeBin.resolve("shutdown"));
        env.put("PATH", fakeBin + ":" + env.get("PATH"));
        List<String> command = RestartFence.around(fake, installer.toString(), "-multipleInstance", "-javaHome",
            real.runtime.toString());
        RealLauncher.Result result = RealLauncher.exec(command, env, null, real.scratch);
        assumeTrue(result.code != RestartFence.UNAVAILABLE, "no private mount namespace here: " + result);
        assertEquals(ExitCode.RESTART, result.code, result.toString());
        assertEquals("-r now\n", new String(Files.readAllBytes(record), StandardCharsets.UTF_8));
    }

    @Test
    void anInstalledProductsRuntimeIsReusedByTheNextInstaller() throws Exception {
        Path home = real.scratch.resolve("product home");
        Properties plan = new Properties();
        plan.setProperty("install.home", home.toString());
        plan.setProperty("install.product", "probe");
        real.writePlan(plan);
        RealLauncher.Result first = real.run(installer, real.environment(), null, "-javaHome", real.runtime.toString());
        assertEquals(0, first.code, first.toString());
        Path record = real.scratch.resolve("inventory/probe.talve");
        assertEquals(home + "\n", new String(Files.readAllBytes(record), StandardCharsets.UTF_8));
        assertTrue(Files.isSymbolicLink(home.resolve("_jvm/bin/java")));

        Path requirements = Files.write(real.scratch.resolve("req.txt"), "java.feature.min=8\n".getBytes(StandardCharsets.UTF_8));
        Path searching = real.installer("searching", "--search-installed-runtime", "--check-jar",
            real.pack.resolveSibling("check.jar").toString(), "--requirements", requirements.toString());
        real.writePlan(new Properties());
        Map<String, String> env = real.environment();
        env.put("KORVU_LOG_LEVEL", "INFO");
        RealLauncher.Result second = real.run(searching, env, null, "-console");
        assertEquals(0, second.code, second.toString());
        assertTrue(second.output.contains("A jvm has been found at the following location : " + home + "/_jvm/"),
            second.toString());
        assertEquals(home.resolve("_jvm").toString(), real.report().getProperty("runtimeHome"));
    }

    @Test
    void recordedAnswersServeAsTheSilentFileWithTheirProtectedValues() throws Exception {
        String secret = "db-Secret! $x `y` \"q\" 100% Grüße";
        Path recorded = real.scratch.resolve("recorded answers.properties");
        Properties plan = new Properties();
        plan.setProperty("record.plain.installDir", "/opt/a b=c:d");
        plan.setProperty("record.sensitive.db.password", secret);
        real.writePlan(plan);
        RealLauncher.Result record = real.run(installer, real.environment(), null, "-javaHome", real.runtime.toString(),
            "-record", recorded.toString(), "-key", KEY);
        assertEquals(0, record.code, record.toString());
        assertFalse(new String(Files.readAllBytes(recorded), StandardCharsets.UTF_8).contains("Secret"));
        RealLauncher.Result check = RealLauncher.exec(Arrays.asList(real.pack.toString(), "check-silent", "--key", KEY,
            recorded.toString()), new java.util.LinkedHashMap<String, String>(), null, real.scratch);
        assertTrue(check.output.startsWith("result 3"), check.toString());

        real.writePlan(new Properties());
        RealLauncher.Result withKey = real.run(installer, real.environment(), null, "-javaHome", real.runtime.toString(),
            "-silent", recorded.toString(), "-key", KEY);
        assertEquals(0, withKey.code, withKey.toString());
        Properties report = real.report();
        assertEquals(secret, report.getProperty("answer.db.password"));
        assertEquals("/opt/a b=c:d", report.getProperty("answer.installDir"));
        assertEquals(KEY, report.getProperty("userKey"));

        // Without -key the launcher asks for it; without a terminal it reads a line of standard input.
        RealLauncher.Result typed = real.run(installer, real.environment(), KEY + "\n", "-javaHome",
            real.runtime.toString(), "-silent", recorded.toString());
        assertEquals(0, typed.code, typed.toString());
        assertEquals(secret, real.report().getProperty("answer.db.password"));
    }

    static List<String> list(Properties report, String prefix) {
        List<String> values = new ArrayList<>();
        int count = Integer.parseInt(report.getProperty(prefix + "count"));
        for (int i = 0; i < count; ++i) values.add(report.getProperty(prefix + i));
        return values;
    }

    static String read(Path file) throws IOException {
        return new String(Files.readAllBytes(file), StandardCharsets.UTF_8);
    }
}
