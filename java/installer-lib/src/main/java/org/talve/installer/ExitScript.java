package org.talve.installer;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Pattern;

/**
 * The exit script: commands the launcher runs after the jar has ended (with
 * {@code cmd.exe /c} on Windows, {@code /bin/sh} elsewhere), from the
 * temporary directory's parent, before it removes the temporary directory.
 * Its exit code is the last command's; a code other than 0 is logged by the
 * launcher and does not change the installation's.
 *
 * <p>Each command is a program and its arguments, every one quoted for the
 * interpreter, so that nothing a file name holds (blanks, quotes, {@code %},
 * {@code !}, {@code $}, backquotes, {@code ;}, {@code &}) can become a
 * command. The script is UTF-8; for {@code cmd.exe} its lines end in CR LF,
 * and when it holds other characters than ASCII it switches the console to
 * the UTF-8 code page for its run and back afterwards.
 *
 * <p>{@code cmd.exe} reads a batch line of at most {@value #LONGEST_CMD_LINE}
 * characters and runs what is left of a longer one as a command of its own,
 * outside the quotes that were to protect it: a command whose line would be
 * longer, counted in the bytes of its UTF-8 form (never fewer than its
 * characters), is refused. {@code sh} reads lines of any length and has no
 * such limit. Text that UTF-8 cannot carry exactly (a lone UTF-16 surrogate)
 * is refused too, rather than written as "?", which {@code cmd.exe} would
 * take for a wildcard.
 */
public final class ExitScript {
    /** The longest line {@code cmd.exe} reads whole from a batch file, line end excluded. */
    public static final int LONGEST_CMD_LINE = 8191;
    private static final Pattern PLAIN_WORD = Pattern.compile("[A-Za-z0-9_./-]+");
    // cmd.exe finds its built-in commands only by a bare name, and its
    // built-in commands see a quoted switch as a file name.
    private static final Pattern CMD_COMMAND_NAME = Pattern.compile("[A-Za-z0-9_.-]+");
    private static final Pattern CMD_SWITCH = Pattern.compile("/[A-Za-z0-9?:-]+");

    private final Path path;
    private final boolean cmd;
    private final List<String> commands = new ArrayList<>();

    private ExitScript(Path path, boolean cmd) {
        this.path = path;
        this.cmd = cmd;
    }

    /** A script for {@code /bin/sh} (Linux, other POSIX systems). */
    public static ExitScript forSh(Path path) {
        return new ExitScript(path, false);
    }

    /** A script for {@code cmd.exe} (Windows). */
    public static ExitScript forCmd(Path path) {
        return new ExitScript(path, true);
    }

    /**
     * Adds a command: a program (for {@code cmd.exe} also a built-in command
     * such as {@code del} or {@code copy}) and its arguments.
     *
     * @throws IllegalArgumentException for an empty program, a NUL character,
     *     a lone UTF-16 surrogate, or, for {@code cmd.exe}, a double quote or
     *     a line end, which no quoting can carry there (Windows file names
     *     cannot hold them), or a line longer than {@value #LONGEST_CMD_LINE}
     */
    public ExitScript add(String program, String... arguments) {
        return add(concat(program, arguments));
    }

    /** Adds a command whose output and errors are discarded; its line counts the redirection too. */
    public ExitScript addQuietly(String program, String... arguments) {
        return addLine(concat(program, arguments), cmd ? " >nul 2>&1" : " >/dev/null 2>&1");
    }

    /** Adds a command given as its words, the program first. */
    public ExitScript add(List<String> words) {
        return addLine(words, "");
    }

    private ExitScript addLine(List<String> words, String redirection) {
        if (words.isEmpty() || words.get(0).isEmpty()) throw new IllegalArgumentException("a command needs a program");
        StringBuilder line = new StringBuilder();
        for (int i = 0; i < words.size(); ++i) {
            if (i > 0) line.append(' ');
            String word = words.get(i);
            if (word.indexOf('\0') >= 0) throw new IllegalArgumentException("a NUL character cannot reach a command");
            ExactUtf8.check(word, "a word of a command");
            line.append(cmd ? quoteForCmd(word, i == 0) : quoteForSh(word));
        }
        line.append(redirection);
        if (cmd) {
            int length = line.toString().getBytes(StandardCharsets.UTF_8).length;
            if (length > LONGEST_CMD_LINE)
                throw new IllegalArgumentException("cmd.exe reads lines of at most " + LONGEST_CMD_LINE
                    + " characters; this command's line has " + length + " bytes: " + line.substring(0, 80) + "...");
        }
        commands.add(line.toString());
        return this;
    }

    /** Adds the command that deletes a file, if it is there. */
    public ExitScript deleteFile(Path file) {
        return cmd ? add("del", "/F", "/Q", file.toString()) : add("rm", "-f", "--", file.toString());
    }

    /** Adds the command that deletes a directory with everything in it. */
    public ExitScript deleteDirectory(Path directory) {
        return cmd ? add("rmdir", "/S", "/Q", directory.toString()) : add("rm", "-rf", "--", directory.toString());
    }

    /** Adds the command that copies a file, replacing the target. */
    public ExitScript copyFile(Path from, Path to) {
        return cmd ? addQuietly("copy", "/Y", from.toString(), to.toString())
            : add("cp", "-f", "--", from.toString(), to.toString());
    }

    /** The commands as the script will hold them, one per entry. */
    public List<String> commands() {
        return new ArrayList<>(commands);
    }

    /** The script's text. */
    public String text() {
        StringBuilder text = new StringBuilder();
        String end = cmd ? "\r\n" : "\n";
        boolean nonAscii = false;
        for (String command : commands)
            for (int i = 0; i < command.length(); ++i) nonAscii |= command.charAt(i) > 127;
        if (cmd) {
            text.append("@echo off").append(end);
            // "!" stays a character even where the registry turns delayed expansion on.
            text.append("setlocal EnableExtensions DisableDelayedExpansion").append(end);
            if (nonAscii) {
                text.append("for /f \"tokens=2 delims=:.\" %%p in ('chcp') do set \"talve_codepage=%%p\"").append(end);
                text.append("chcp 65001 >nul").append(end);
            }
        }
        for (String command : commands) text.append(command).append(end);
        if (cmd && nonAscii) {
            text.append("set talve_status=%errorlevel%").append(end);
            text.append("chcp %talve_codepage% >nul").append(end);
            text.append("exit /b %talve_status%").append(end);
        }
        return text.toString();
    }

    /** Writes the script, replacing what it held. */
    public void write() throws IOException {
        Files.write(path, ExactUtf8.encode(text(), "the exit script"));
    }

    /** One word for {@code sh}: in single quotes, each single quote as '\''. */
    public static String quoteForSh(String word) {
        if (!word.isEmpty() && PLAIN_WORD.matcher(word).matches() && word.charAt(0) != '-') return word;
        return "'" + word.replace("'", "'\\''") + "'";
    }

    /**
     * One word for a {@code cmd.exe} batch file: in double quotes, where
     * {@code & | < > ^ ( )} are plain characters; "%" doubled, the only
     * character a batch file expands inside quotes; trailing backslashes
     * doubled so that a program's own parsing does not take the closing quote
     * for a character. A bare command name as the first word and switches such as
     * {@code /Q} stay unquoted (a Windows file name cannot hold "/").
     */
    public static String quoteForCmd(String word, boolean first) {
        if (word.indexOf('"') >= 0 || word.indexOf('\r') >= 0 || word.indexOf('\n') >= 0)
            throw new IllegalArgumentException("cmd.exe cannot take a double quote or a line end in a word: " + word);
        if (first && CMD_COMMAND_NAME.matcher(word).matches()) return word;
        if (!first && CMD_SWITCH.matcher(word).matches()) return word;
        int trailing = 0;
        while (trailing < word.length() && word.charAt(word.length() - 1 - trailing) == '\\') ++trailing;
        StringBuilder quoted = new StringBuilder("\"").append(word.replace("%", "%%"));
        for (int i = 0; i < trailing; ++i) quoted.append('\\');
        return quoted.append('"').toString();
    }

    private static List<String> concat(String first, String[] rest) {
        List<String> words = new ArrayList<>(rest.length + 1);
        words.add(first);
        words.addAll(Arrays.asList(rest));
        return words;
    }
}
