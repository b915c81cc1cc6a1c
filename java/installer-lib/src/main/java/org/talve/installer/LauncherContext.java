package org.talve.installer;

import java.io.File;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Optional;

/**
 * What the launcher hands its installer jar: the user's command line, the
 * launcher's file and launch folder, the run's temporary directory, the
 * runtime, and the files through which the jar answers.
 *
 * <pre>{@code
 * LauncherContext launcher = LauncherContext.current();
 * List<String> mine = launcher.installerArguments();
 * }</pre>
 */
public final class LauncherContext {
    static final String ARGUMENT_COUNT = "KORVU_BOOTSTRAP_ARGC";
    static final String ARGUMENT_PREFIX = "KORVU_BOOTSTRAP_ARGV";
    static final String LAUNCHER_FILE = "KORVU_BOOTSTRAP_EXENAME";
    static final String LAUNCH_DIRECTORY = "myLAUNCH_DIR";
    static final String TEMPORARY_DIRECTORY = "KORVU_BOOTSTRAP_TEMP";
    static final String EXIT_SCRIPT = "KORVU_BOOTSTRAP_ONEXIT_SCRIPT";
    static final String COMMUNICATION_FILE = "KORVU_BOOTSTRAP_COMM_FILE";
    static final String RUNTIME_HOME = "KORVU_JVM_LOC";
    static final String SILENT_FILE = "TALVE_SILENT_PROPERTIES";
    static final String RECORD_FILE = "TALVE_RECORD_FILE";
    static final String SILENT_KEY = "KORVU_SILENT_K";
    /**
     * More arguments than any system hands a program: Windows command lines
     * hold 32,767 characters, and Linux gives a program at most a quarter of
     * its stack for arguments, at least 9 bytes each.
     */
    static final int MOST_ARGUMENTS = 1 << 20;

    /** The launcher's options that take no value. */
    static final List<String> FLAG_OPTIONS = Collections.unmodifiableList(java.util.Arrays.asList(
        "-console", "-multipleInstance", "-noSplashScreen", "-help", "-h"));
    /** The launcher's options whose value is the next argument, whatever it holds. */
    static final List<String> VALUE_OPTIONS = Collections.unmodifiableList(java.util.Arrays.asList(
        "-javaArgs", "-location", "-javaHome", "-record"));
    /** The launcher's options whose value is the next argument unless it is empty or begins with '-'. */
    static final List<String> OPTIONAL_VALUE_OPTIONS = Collections.unmodifiableList(java.util.Arrays.asList(
        "-tempdir", "-key", "-silent"));

    private final Map<String, String> environment;
    private final List<String> commandLine;
    private final boolean windows;

    private LauncherContext(Map<String, String> environment, boolean windows) {
        this.environment = environment;
        this.windows = windows;
        this.commandLine = readCommandLine();
    }

    /**
     * The context of this process.
     *
     * @throws MissingLauncherVariableException when the jar does not run under the launcher
     */
    public static LauncherContext current() {
        return of(System.getenv());
    }

    /**
     * The context an environment describes (tests, or a jar that passes the
     * environment on to a helper process).
     *
     * @param environment the variables, as {@link System#getenv()} gives them
     * @throws MissingLauncherVariableException when the launcher's command line is not in it
     */
    public static LauncherContext of(Map<String, String> environment) {
        return new LauncherContext(new LinkedHashMap<>(environment), File.separatorChar == '\\');
    }

    static LauncherContext of(Map<String, String> environment, boolean windows) {
        return new LauncherContext(new LinkedHashMap<>(environment), windows);
    }

    /** True when this process was started by the launcher (its command line and temporary directory are set). */
    public static boolean isUnderLauncher() {
        return System.getenv(ARGUMENT_COUNT) != null && System.getenv(TEMPORARY_DIRECTORY) != null;
    }

    // The launcher removes the variable of an empty argument, so a missing
    // one below the count is "" and cannot tell a damaged count; variables
    // past the count may be an outer installer's, inherited. The count is
    // checked against what a command line can hold before it sizes anything:
    // an environment is outside input, and an Error would pass a jar's catch.
    private List<String> readCommandLine() {
        String countText = required(ARGUMENT_COUNT, "the jar is not running under the launcher");
        int count;
        try {
            count = Integer.parseInt(countText.trim());
        } catch (NumberFormatException e) {
            count = -1;
        }
        if (count < 0 || count > MOST_ARGUMENTS)
            throw new IllegalStateException(ARGUMENT_COUNT + " is not a number of arguments: " + countText);
        List<String> arguments = new ArrayList<>(count);
        for (int i = 0; i < count; ++i) {
            String value = environment.get(String.format(Locale.ROOT, "%s%02d", ARGUMENT_PREFIX, i));
            arguments.add(value == null ? "" : value);
        }
        return Collections.unmodifiableList(arguments);
    }

    private String required(String variable, String why) {
        String value = environment.get(variable);
        if (value == null) throw new MissingLauncherVariableException(variable, why);
        return value;
    }

    private Path requiredPath(String variable) {
        return Paths.get(required(variable, "the launcher sets it for every installer run"));
    }

    private Optional<Path> optionalPath(String variable) {
        String value = environment.get(variable);
        return value == null || value.isEmpty() ? Optional.empty() : Optional.of(Paths.get(value));
    }

    /** The program path as the user typed it (argument 0). */
    public String programPath() {
        return commandLine.isEmpty() ? "" : commandLine.get(0);
    }

    /**
     * The user's arguments, as typed, the launcher's own options included,
     * without the program path. Each may have been cut: the launcher passes
     * at most 1,001 characters of "KORVU_BOOTSTRAP_ARGVnn=" and the argument.
     */
    public List<String> arguments() {
        return commandLine.isEmpty() ? Collections.<String>emptyList() : commandLine.subList(1, commandLine.size());
    }

    /**
     * The launcher's own options on the command line, each with its value
     * ("" for an option without one), in the order of their first appearance;
     * an option given twice keeps its later value, as the launcher does.
     * Values are taken as the launcher takes them when the installer carries
     * no argument specification.
     */
    public Map<String, String> launcherOptions() {
        Map<String, String> options = new LinkedHashMap<>();
        split(options, null);
        return Collections.unmodifiableMap(options);
    }

    /** The arguments that are neither the launcher's options nor their values: the installer's own. */
    public List<String> installerArguments() {
        List<String> mine = new ArrayList<>();
        split(new LinkedHashMap<String, String>(), mine);
        return Collections.unmodifiableList(mine);
    }

    private void split(Map<String, String> options, List<String> others) {
        List<String> arguments = arguments();
        for (int i = 0; i < arguments.size(); ++i) {
            String argument = arguments.get(i);
            String next = i + 1 < arguments.size() ? arguments.get(i + 1) : null;
            if (FLAG_OPTIONS.contains(argument)) {
                options.put(argument, "");
            } else if (VALUE_OPTIONS.contains(argument)) {
                options.put(argument, next == null ? "" : next);
                if (next != null) ++i;
            } else if (OPTIONAL_VALUE_OPTIONS.contains(argument)) {
                boolean takesNext = next != null && !next.isEmpty() && next.charAt(0) != '-';
                options.put(argument, takesNext ? next : "");
                if (takesNext) ++i;
            } else if (others != null) {
                others.add(argument);
            }
        }
    }

    /** The installer's file, absolute. */
    public Path launcherFile() {
        return requiredPath(LAUNCHER_FILE);
    }

    /** The folder the user started the installer from. */
    public Path launchDirectory() {
        return requiredPath(LAUNCH_DIRECTORY);
    }

    /** The run's private temporary directory, removed when the run ends; the jar's current directory. */
    public Path temporaryDirectory() {
        return requiredPath(TEMPORARY_DIRECTORY);
    }

    /** The home of the Java runtime the jar runs on, the one the launcher chose. */
    public Path runtimeHome() {
        return requiredPath(RUNTIME_HOME);
    }

    /** The communication file's path (the jar writes it; the launcher reads it after the jar). */
    public Path communicationFilePath() {
        return requiredPath(COMMUNICATION_FILE);
    }

    /** The exit script's path (empty until the jar writes commands into it). */
    public Path exitScriptPath() {
        return requiredPath(EXIT_SCRIPT);
    }

    /** A writer of the communication file. */
    public CommunicationFile communicationFile() {
        return new CommunicationFile(communicationFilePath());
    }

    /** A writer of the exit script, for the command interpreter of this system. */
    public ExitScript exitScript() {
        return windows ? ExitScript.forCmd(exitScriptPath()) : ExitScript.forSh(exitScriptPath());
    }

    /** The silent file of a silent run ({@code -silent FILE}), absolute. */
    public Optional<Path> silentFile() {
        return optionalPath(SILENT_FILE);
    }

    /** The record file of a record run ({@code -record FILE}), absolute. */
    public Optional<Path> recordFile() {
        return optionalPath(RECORD_FILE);
    }

    /**
     * The user's key for protected values: the {@code -key} of a record run,
     * or the key given or typed for a silent file, which the launcher hands
     * over protected in {@code KORVU_SILENT_K}.
     *
     * @throws IllegalArgumentException when {@code KORVU_SILENT_K} is damaged
     * @throws IllegalStateException when the key is not UTF-8 text (typed in a
     *     terminal of another encoding): {@link #userKeyBytes} has it
     */
    public Optional<String> userKey() {
        Optional<byte[]> bytes = userKeyBytes();
        if (!bytes.isPresent()) return Optional.empty();
        String key = ExactUtf8.decodeOrNull(bytes.get(), 0, bytes.get().length);
        if (key == null) throw new IllegalStateException("the user's key is not UTF-8 text: use userKeyBytes()");
        return Optional.of(key);
    }

    /**
     * The user's key as the launcher got it, the bytes of its command line or
     * console, whatever their encoding; {@link #silentAnswers} and
     * {@link #recordWriter} use it so.
     *
     * @throws IllegalArgumentException when {@code KORVU_SILENT_K} is damaged
     */
    public Optional<byte[]> userKeyBytes() {
        String protectedKey = environment.get(SILENT_KEY);
        if (protectedKey == null || protectedKey.isEmpty()) return Optional.empty();
        return Optional.of(ProtectedValue.decodeSilentKeyBytes(protectedKey));
    }

    /**
     * The answers of a silent run, protected values decrypted with the user's key.
     *
     * @throws MissingLauncherVariableException when the run is not silent
     * @throws java.io.IOException when the file cannot be read or breaks the launcher's rules
     */
    public SilentAnswers silentAnswers() throws java.io.IOException {
        Path file = silentFile().orElseThrow(() -> new MissingLauncherVariableException(SILENT_FILE,
            "the installer was not started with -silent FILE"));
        return SilentAnswers.readWithKeyBytes(file, userKeyBytes().orElse(null));
    }

    /**
     * A writer of the record file of a record run, which protects sensitive
     * answers with the user's key.
     *
     * @throws MissingLauncherVariableException when the run does not record
     */
    public RecordWriter recordWriter() {
        Path file = recordFile().orElseThrow(() -> new MissingLauncherVariableException(RECORD_FILE,
            "the installer was not started with -record FILE"));
        return RecordWriter.withKeyBytes(file, userKeyBytes().orElse(null));
    }

    /** Product records and runtime reuse, with the record folder this environment names. */
    public ProductRecords productRecords() {
        return new ProductRecords(environment, windows);
    }

    /** A variable of the environment the context was made from. */
    public Optional<String> variable(String name) {
        return Optional.ofNullable(environment.get(name));
    }
}
