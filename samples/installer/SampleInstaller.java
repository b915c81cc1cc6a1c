import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import org.talve.installer.ExitCode;
import org.talve.installer.ExitScript;
import org.talve.installer.LauncherContext;
import org.talve.installer.ProductRecords;
import org.talve.installer.RecordWriter;
import org.talve.installer.SilentAnswers;

/**
 * A sample installer jar for the talve launcher, built on the installer
 * library. It checks what the launcher hands over, answers through the
 * communication file and the exit script like a real installer, and ends
 * with the code asked for with "-exitCode N" (default 0); a failed check ends
 * with 1. "-installDir DIR" installs a product whose runtime later
 * installers reuse. A silent run reads its answers, a record run records them.
 */
public final class SampleInstaller {
    private static final List<String> failures = new ArrayList<>();

    public static void main(String[] args) throws IOException {
        say("started with runtime " + System.getProperty("java.home"));
        LauncherContext launcher = LauncherContext.current();
        say("launcher command line: " + launcher.arguments());
        List<String> mine = launcher.installerArguments();
        int exitCode = Integer.parseInt(valueOf(mine, "-exitCode", "0"));
        String installDir = valueOf(mine, "-installDir", null);

        Map<String, String> env = System.getenv();
        Path temp = launcher.temporaryDirectory();
        check(Paths.get("").toAbsolutePath().normalize().equals(temp.toAbsolutePath().normalize()), "the current directory is the temporary directory");
        check(args.length == 0, "the jar's own arguments are empty");
        check("en".equals(System.getProperty("user.language")), "user.language is en");
        check(!env.containsKey("_JAVA_OPTIONS") && !env.containsKey("JAVA_TOOL_OPTIONS"), "no Java option variables");
        check(Files.isRegularFile(launcher.launcherFile()), "KORVU_BOOTSTRAP_EXENAME names the installer");
        check(Files.isRegularFile(launcher.exitScriptPath()), "the exit script exists");
        Path libraryDir = temp.resolve("korvu_lib");
        String firstOnPath = env.getOrDefault("PATH", "").split(java.io.File.pathSeparator, -1)[0];
        check(Paths.get(firstOnPath).equals(libraryDir) && Files.isDirectory(libraryDir), "korvu_lib comes first in PATH");

        if (launcher.silentFile().isPresent()) {
            SilentAnswers answers = launcher.silentAnswers();
            for (String name : answers.asMap().keySet())
                say("silent answer " + name + (answers.isProtected(name) ? " (protected)" : ""));
            if (installDir == null) installDir = answers.get("installDir", null);
        }
        if (launcher.recordFile().isPresent()) {
            RecordWriter record = launcher.recordWriter();
            if (installDir != null) record.put("installDir", installDir);
            record.put("exitCode", Integer.toString(exitCode));
            record.write();
            say("answers recorded in " + launcher.recordFile().get());
        }

        // Where the installation log is, and what runs once the jar has ended.
        Path log = launcher.launchDirectory().resolve("sample-install.log");
        Files.write(log, ("sample installation, exit code " + exitCode + "\n").getBytes(StandardCharsets.UTF_8));
        launcher.communicationFile().setUsedLogFile(log).write();
        Path note = temp.resolve("exit-script-note.txt");
        Files.write(note, "exit script ran\n".getBytes(StandardCharsets.UTF_8));
        ExitScript script = launcher.exitScript();
        script.copyFile(note, launcher.launchDirectory().resolve("sample-exit-script.txt")).write();

        if (installDir != null && failures.isEmpty()) install(launcher, Paths.get(installDir));
        if (!failures.isEmpty()) {
            for (String failure : failures) say("CHECK FAILED: " + failure);
            System.exit(ExitCode.FAILURE);
        }
        say("all checks passed; exiting with code " + exitCode);
        System.exit(exitCode);
    }

    /** Keeps the runtime in the product home and records the home for later installers. */
    private static void install(LauncherContext launcher, Path home) throws IOException {
        Path runtime = launcher.runtimeHome();
        Path kept = ProductRecords.copyRuntime(runtime, home);
        say(kept.equals(runtime.toAbsolutePath().normalize()) ? "the runtime of " + home + " was reused"
            : "runtime copied into " + kept);
        say("product record written: " + launcher.productRecords().writeRecord("talve-demo", home));
    }

    private static String valueOf(List<String> arguments, String option, String fallback) {
        int at = arguments.indexOf(option);
        return at >= 0 && at + 1 < arguments.size() ? arguments.get(at + 1) : fallback;
    }

    private static void check(boolean condition, String what) {
        if (!condition) failures.add(what);
    }

    private static void say(String line) {
        System.out.println("Sample installer: " + line);
    }
}
