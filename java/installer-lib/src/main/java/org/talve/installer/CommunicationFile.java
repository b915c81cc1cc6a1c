package org.talve.installer;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * The communication file, the jar's answer to the launcher. The launcher
 * reads it after the jar has ended; {@value #USED_LOG_FILE} is the log it
 * names to a user whose silent installation failed.
 *
 * <p>The text is made for the launcher's reader: one {@code key=value} line
 * per key, ended by a line feed, UTF-8; in values {@code \}, {@code :} and
 * {@code =} are escaped with a backslash. {@link #set} stores a value as it
 * is; {@link #setWithReferences} keeps the {@code ?{key}?} references that the
 * launcher replaces with other keys' values. What the reader cannot give back
 * exactly is refused with an {@link IllegalArgumentException} rather than
 * written wrong.
 */
public final class CommunicationFile {
    /** The key whose value is the installation log's path. */
    public static final String USED_LOG_FILE = "installationLog.usedLogFile";
    /** The longest line the launcher reads, in bytes, line feed excluded. */
    public static final int LONGEST_LINE = 1022;

    private final Path path;
    private final Map<String, String> lines = new LinkedHashMap<>();

    /** A writer of the communication file at {@code path}; nothing is written before {@link #write}. */
    public CommunicationFile(Path path) {
        this.path = path;
    }

    /**
     * Sets a key to a value, taken as it is.
     *
     * @throws IllegalArgumentException when the launcher could not read it back
     *     exactly: a key that is empty or holds "=", a line end, or blanks or
     *     control characters at either end; a value with a line end, blanks or
     *     control characters at either end, or a "?{" with a "}?" after it,
     *     text that UTF-8 cannot carry (a lone UTF-16 surrogate),
     *     which the launcher would take for a reference; a line longer than
     *     {@value #LONGEST_LINE} bytes
     */
    public CommunicationFile set(String key, String value) {
        if (hasReference(value))
            throw new IllegalArgumentException("the launcher would take \"?{...}?\" in this value for a reference: " + value);
        return store(key, escaped(value));
    }

    /**
     * Sets a key to a text whose {@code ?{other}?} references the launcher
     * replaces with the value of the key {@code other} ("@@" when there is
     * none), again and again until none is left. The rest of the text is
     * escaped as by {@link #set}.
     */
    public CommunicationFile setWithReferences(String key, String text) {
        return store(key, escaped(text));
    }

    /** Names the installation log, {@value #USED_LOG_FILE}. */
    public CommunicationFile setUsedLogFile(Path log) {
        return set(USED_LOG_FILE, log.toString());
    }

    /** A reference to another key, for {@link #setWithReferences}. */
    public static String reference(String key) {
        checkKey(key);
        if (key.contains("}?")) throw new IllegalArgumentException("a referenced key cannot hold \"}?\": " + key);
        return "?{" + key + "}?";
    }

    /** The keys set so far with their values as the file will hold them (escaped). */
    public Map<String, String> escapedValues() {
        return Collections.unmodifiableMap(lines);
    }

    /** The text of the file. */
    public String text() {
        StringBuilder text = new StringBuilder();
        for (Map.Entry<String, String> line : lines.entrySet())
            text.append(escapedKey(line.getKey())).append('=').append(line.getValue()).append('\n');
        return text.toString();
    }

    /** Writes the file, replacing what it held. */
    public void write() throws IOException {
        Files.write(path, ExactUtf8.encode(text(), "the communication file"));
    }

    private CommunicationFile store(String key, String escapedValue) {
        checkKey(key);
        checkEnds(escapedValue, "value");
        String line = escapedKey(key) + "=" + escapedValue;
        if (line.getBytes(StandardCharsets.UTF_8).length > LONGEST_LINE)
            throw new IllegalArgumentException("the launcher reads lines of at most " + LONGEST_LINE
                + " bytes; this one has more: " + key);
        lines.remove(key);
        lines.put(key, escapedValue);
        return this;
    }

    private static void checkKey(String key) {
        if (key.isEmpty()) throw new IllegalArgumentException("a key cannot be empty");
        if (key.indexOf('=') >= 0) throw new IllegalArgumentException("a key cannot hold \"=\": " + key);
        checkEnds(key, "key");
    }

    private static void checkEnds(String text, String what) {
        ExactUtf8.check(text, "a " + what);
        if (text.indexOf('\n') >= 0 || text.indexOf('\r') >= 0)
            throw new IllegalArgumentException("a " + what + " cannot hold a line end: " + text);
        // The reader trims every byte up to 32 from both ends.
        if (!text.isEmpty() && (text.charAt(0) <= ' ' || text.charAt(text.length() - 1) <= ' '))
            throw new IllegalArgumentException("a " + what + " cannot begin or end with a blank or control character: \""
                + text + "\"");
    }

    // A line whose first character is "#" is a comment; one blank in front
    // is trimmed away again by the reader.
    private static String escapedKey(String key) {
        String escaped = key.replace("\\", "\\\\").replace(":", "\\:");
        return escaped.startsWith("#") ? " " + escaped : escaped;
    }

    private static String escaped(String value) {
        return value.replace("\\", "\\\\").replace(":", "\\:").replace("=", "\\=");
    }

    // The launcher expands from the first "?{" that has a "}?" after it.
    static boolean hasReference(String value) {
        int open = value.indexOf("?{");
        return open >= 0 && value.indexOf("}?", open + 2) >= 0;
    }
}
