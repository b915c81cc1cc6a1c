import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * A sample installer jar for the talve launcher. It checks what the launcher
 * hands over (environment, current directory, library path, its own command
 * line), answers through the communication file and the exit script like a
 * real installer, and ends with the code asked for on the launcher's
 * command line with "-exitCode N" (default 0). A failed check ends with 1.
 *
 * With "-installDir DIR" it installs a product the way the launcher's
 * runtime search expects: the runtime it runs on is copied into DIR/_jvm,
 * and a product record naming DIR is written into the record directory, so
 * that a later installer can reuse that runtime instead of unpacking its own.
 */
public final class SampleInstaller {
    private static final List<String> failures = new ArrayList<>();

    public static void main(String[] args) throws IOException {
        Map<String, String> env = System.getenv();
        String sep = File.separator;
        say("started with runtime " + System.getProperty("java.home"));

        List<String> launcherArgs = new ArrayList<>();
        int argc = Integer.parseInt(required(env, "KORVU_BOOTSTRAP_ARGC"));
        for (int i = 0; i < argc; i++) launcherArgs.add(required(env, String.format("KORVU_BOOTSTRAP_ARGV%02d", i)));
        say("launcher command line: " + launcherArgs);
        int exitCode = 0;
        int at = launcherArgs.indexOf("-exitCode");
        if (at >= 0 && at + 1 < launcherArgs.size()) exitCode = Integer.parseInt(launcherArgs.get(at + 1));
        at = launcherArgs.indexOf("-installDir");
        String installDir = at >= 0 && at + 1 < launcherArgs.size() ? launcherArgs.get(at + 1) : null;

        String temp = required(env, "KORVU_BOOTSTRAP_TEMP");
        Path cwd = Paths.get("").toAbsolutePath();
        check(cwd.normalize().equals(Paths.get(temp).toAbsolutePath().normalize()), "current directory " + cwd + " is the temporary directory");
        check(args.length == 0, "the jar's own arguments are empty");
        check("en".equals(System.getProperty("user.language")), "user.language is en");
        check(!env.containsKey("_JAVA_OPTIONS") && !env.containsKey("JAVA_TOOL_OPTIONS"), "no Java option variables");
        String jvm = required(env, "KORVU_JVM_LOC");
        check(jvm.endsWith(sep), "KORVU_JVM_LOC ends with a separator");
        check(Files.isRegularFile(Paths.get(required(env, "KORVU_BOOTSTRAP_EXENAME"))), "KORVU_BOOTSTRAP_EXENAME names the installer");
        check(Files.isRegularFile(Paths.get(required(env, "KORVU_BOOTSTRAP_ONEXIT_SCRIPT"))), "the exit script exists");
        String libraryDir = temp + sep + "korvu_lib";
        String firstOnPath = required(env, "PATH").split(File.pathSeparator, -1)[0];
        check(firstOnPath.equals(libraryDir) && Files.isDirectory(Paths.get(libraryDir)), "korvu_lib exists and comes first in PATH");

        // Answer the launcher: where the installation log is, and what to run afterwards.
        Path launchDir = Paths.get(required(env, "myLAUNCH_DIR"));
        Path log = launchDir.resolve("sample-install.log");
        Files.write(log, ("sample installation, exit code " + exitCode + "\n").getBytes(StandardCharsets.UTF_8));
        String escaped = log.toString().replace("\\", "\\\\").replace(":", "\\:");
        Files.write(Paths.get(required(env, "KORVU_BOOTSTRAP_COMM_FILE")),
                ("# written by the sample installer\ninstallationLog.usedLogFile=" + escaped + "\n").getBytes(StandardCharsets.UTF_8));
        Path marker = launchDir.resolve("sample-exit-script.txt");
        String script = sep.equals("\\")
                ? "@echo exit script ran> \"" + marker + "\"\r\n"
                : "echo 'exit script ran' > '" + marker.toString().replace("'", "'\\''") + "'\n";
        Files.write(Paths.get(env.get("KORVU_BOOTSTRAP_ONEXIT_SCRIPT")), script.getBytes(StandardCharsets.UTF_8));
        if (installDir != null && failures.isEmpty()) install(env, Paths.get(installDir), Paths.get(jvm));

        if (!failures.isEmpty()) {
            for (String failure : failures) say("CHECK FAILED: " + failure);
            System.exit(1);
        }
        say("all checks passed; exiting with code " + exitCode);
        System.exit(exitCode);
    }

    /** Keeps the runtime in the product home and records the home for later installers. */
    private static void install(Map<String, String> env, Path dir, Path runtime) throws IOException {
        Path home = dir.toAbsolutePath().normalize();
        Path kept = home.resolve("_jvm");
        if (runtime.toAbsolutePath().normalize().equals(kept)) {
            say("the runtime of " + home + " was reused");
        } else {
            deleteTree(kept);
            Files.createDirectories(home);
            copyTree(runtime, kept);
            say("runtime copied into " + kept);
        }
        // The launcher reads the first line up to its line feed and keeps a
        // carriage return, so the record ends in a bare line feed everywhere.
        Path records = recordDirectory(env);
        Files.createDirectories(records);
        Files.write(records.resolve("talve-demo.talve"), (home + "\n").getBytes(StandardCharsets.UTF_8));
        say("product record written: " + records.resolve("talve-demo.talve"));
    }

    /** Where the launcher looks for product records, first the inventory named in the environment. */
    private static Path recordDirectory(Map<String, String> env) {
        String inventory = env.get("KORVU_INVENTORY_LOCATION");
        if (inventory != null) return Paths.get(inventory);
        String common = env.get("CommonProgramFiles");
        if (common != null) return Paths.get(common, "talve");
        return Paths.get("/var/lib/talve");
    }

    private static void copyTree(Path from, Path to) throws IOException {
        try (Stream<Path> paths = Files.walk(from)) {
            for (Path source : (Iterable<Path>) paths::iterator) {
                Files.copy(source, to.resolve(from.relativize(source).toString()),
                        StandardCopyOption.COPY_ATTRIBUTES, LinkOption.NOFOLLOW_LINKS);
            }
        }
    }

    private static void deleteTree(Path root) throws IOException {
        if (!Files.exists(root, LinkOption.NOFOLLOW_LINKS)) return;
        try (Stream<Path> paths = Files.walk(root)) {
            List<Path> all = paths.collect(Collectors.toList());
            Collections.reverse(all);
            for (Path path : all) Files.delete(path);
        }
    }

    private static String required(Map<String, String> env, String name) {
        String value = env.get(name);
        if (value == null) {
            failures.add(name + " is set");
            return "";
        }
        return value;
    }

    private static void check(boolean condition, String what) {
        if (!condition) failures.add(what);
    }

    private static void say(String line) {
        System.out.println("Sample installer: " + line);
    }
}
