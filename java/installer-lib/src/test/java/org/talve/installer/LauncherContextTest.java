package org.talve.installer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Paths;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Timeout;

class LauncherContextTest {
    static Map<String, String> environment(String... arguments) {
        Map<String, String> env = new LinkedHashMap<>();
        env.put("KORVU_BOOTSTRAP_ARGC", Integer.toString(arguments.length + 1));
        env.put("KORVU_BOOTSTRAP_ARGV00", "./setup");
        for (int i = 0; i < arguments.length; ++i)
            if (!arguments[i].isEmpty()) env.put(String.format("KORVU_BOOTSTRAP_ARGV%02d", i + 1), arguments[i]);
        return env;
    }

    @Test
    void argumentsComeInOrderAndAnEmptyOneIsTheVariableTheLauncherRemoved() {
        LauncherContext context = LauncherContext.of(environment("a b", "", "Grüße \"$x\" `y` 100% !z"));
        assertEquals("./setup", context.programPath());
        assertEquals(Arrays.asList("a b", "", "Grüße \"$x\" `y` 100% !z"), context.arguments());
    }

    @Test
    void moreThanAHundredArgumentsAreNumberedWithThreeDigits() {
        String[] many = new String[100];
        for (int i = 0; i < many.length; ++i) many[i] = "x" + i;
        List<String> arguments = LauncherContext.of(environment(many)).arguments();
        assertEquals(100, arguments.size());
        assertEquals("x99", arguments.get(99));
    }

    /** An environment is outside input: a count no command line can have is refused, not allocated. */
    @Test
    @Timeout(value = 60, threadMode = Timeout.ThreadMode.SEPARATE_THREAD)
    void anArgumentCountThatCannotBeIsRefused() {
        for (String count : Arrays.asList("100000000", "2147483647", "1048577", "-1", "x")) {
            Map<String, String> env = environment("a");
            env.put("KORVU_BOOTSTRAP_ARGC", count);
            assertThrows(IllegalStateException.class, () -> LauncherContext.of(env), count);
        }
        // Variables past the count (an outer installer's) are not arguments;
        // trailing empty arguments are removed variables, and still count.
        Map<String, String> env = environment("a", "b");
        env.put("KORVU_BOOTSTRAP_ARGC", "2");
        assertEquals(Arrays.asList("a"), LauncherContext.of(env).arguments());
        env.put("KORVU_BOOTSTRAP_ARGC", "5");
        assertEquals(Arrays.asList("a", "b", "", ""), LauncherContext.of(env).arguments());
    }

    @Test
    void theLaunchersOptionsTakeTheirValuesAsTheLauncherDoes() {
        LauncherContext context = LauncherContext.of(environment("-tempdir", "-console", "-mine", "-key", "-silent",
            "answers", "-javaArgs", "-Xmx1g", "-record", "-r.txt", "value", "-Console", "-key", "Secret12"));
        Map<String, String> options = context.launcherOptions();
        // "-tempdir" before an option takes no value; "-javaArgs" and "-record" take the next whatever it is.
        assertEquals("", options.get("-tempdir"));
        assertEquals("", options.get("-console"));
        assertEquals("answers", options.get("-silent"));
        assertEquals("-Xmx1g", options.get("-javaArgs"));
        assertEquals("-r.txt", options.get("-record"));
        assertEquals("Secret12", options.get("-key"));
        assertEquals(Arrays.asList("-mine", "value", "-Console"), context.installerArguments());
    }

    @Test
    void anOptionAtTheEndHasNoValue() {
        LauncherContext context = LauncherContext.of(environment("-location"));
        assertEquals("", context.launcherOptions().get("-location"));
        assertTrue(context.installerArguments().isEmpty());
    }

    @Test
    void outsideTheLauncherTheMissingVariableIsNamed() {
        MissingLauncherVariableException missing = assertThrows(MissingLauncherVariableException.class,
            () -> LauncherContext.of(new LinkedHashMap<String, String>()));
        assertEquals("KORVU_BOOTSTRAP_ARGC", missing.variable());
        assertTrue(missing.getMessage().contains("KORVU_BOOTSTRAP_ARGC"), missing.getMessage());

        LauncherContext context = LauncherContext.of(environment());
        missing = assertThrows(MissingLauncherVariableException.class, context::temporaryDirectory);
        assertEquals("KORVU_BOOTSTRAP_TEMP", missing.variable());
        missing = assertThrows(MissingLauncherVariableException.class, context::silentAnswers);
        assertEquals("TALVE_SILENT_PROPERTIES", missing.variable());
        assertFalse(context.userKey().isPresent());
    }

    @Test
    void theKeyComesFromItsProtectedForm() {
        Map<String, String> env = environment("-record", "r", "-key");
        env.put("KORVU_SILENT_K", ProtectedValue.programKey().encrypt("Schlüssel2024"));
        assertEquals("Schlüssel2024", LauncherContext.of(env).userKey().get());
        env.put("KORVU_SILENT_K", "----damaged value that is long enough");
        assertThrows(IllegalArgumentException.class, () -> LauncherContext.of(env).userKey());
    }

    @Test
    void theExitScriptFollowsTheSystem() {
        Map<String, String> env = environment();
        env.put("KORVU_BOOTSTRAP_ONEXIT_SCRIPT", "/t/exitscript.bat");
        assertTrue(LauncherContext.of(env, true).exitScript().add("del", "x").text().contains("\r\n"));
        assertFalse(LauncherContext.of(env, false).exitScript().add("rm", "x").text().contains("\r"));
        assertEquals(Paths.get("/t/exitscript.bat"), LauncherContext.of(env).exitScriptPath());
    }
}
