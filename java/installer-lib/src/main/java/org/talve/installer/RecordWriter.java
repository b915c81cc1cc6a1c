package org.talve.installer;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * Writes the answers of a record run into the record file, so that the file
 * later serves as the silent file of the same installer: one
 * {@code name=value} line each, ended by a line feed, UTF-8, sensitive values
 * protected with the user's key under the name + {@code .encrypted}. The
 * launcher's silent-file reading has no escapes: what it could not read back
 * as it was written is refused with an {@link IllegalArgumentException}.
 */
public final class RecordWriter {
    private final Path file;
    private final byte[] key;
    private final Map<String, String> lines = new LinkedHashMap<>();

    /**
     * A writer of {@code file}.
     *
     * @param file the record file
     * @param key the user's key, or null when the run has none (then
     *     {@link #putSensitive} protects with the launcher's own key, which hides a value from a
     *     glance only; see {@link #putSensitive})
     */
    public RecordWriter(Path file, String key) {
        this(file, key == null ? null : ExactUtf8.encode(key, "the key"));
    }

    /**
     * A writer of {@code file} with the key's bytes as the launcher got them.
     *
     * @throws IllegalArgumentException for a key the launcher could not take
     *     (see {@link ProtectedValue})
     */
    public static RecordWriter withKeyBytes(Path file, byte[] key) {
        return new RecordWriter(file, key);
    }

    private RecordWriter(Path file, byte[] key) {
        this.file = file;
        this.key = key == null || key.length == 0 ? null : key.clone();
        if (this.key != null) ProtectedValue.checkKey(this.key);
    }

    /** True when sensitive values are protected with the user's key. */
    public boolean hasUserKey() {
        return key != null;
    }

    /**
     * Records an answer as it is.
     *
     * @throws IllegalArgumentException for a name that is empty, holds "=",
     *     begins with "#" or ends in ".encrypted", or a name or value with a line end or with white
     *     space at either end, text that UTF-8 cannot carry (a lone UTF-16
     *     surrogate), or a line of more than 8,190 bytes
     */
    public RecordWriter put(String name, String value) {
        if (name.endsWith(SilentAnswers.ENCRYPTED_SUFFIX))
            throw new IllegalArgumentException("use putSensitive for a protected value: " + name);
        return store(name, name, value);
    }

    /**
     * Records a sensitive answer, protected: with the user's key when the run
     * has one, otherwise with the launcher's own key, whose values anyone who
     * holds the launcher can read.
     */
    public RecordWriter putSensitive(String name, String value) {
        checkName(name);
        String protectedValue = key == null ? ProtectedValue.programKey().encrypt(value)
            : ProtectedValue.encrypt(key, value);
        return store(name, name + SilentAnswers.ENCRYPTED_SUFFIX, protectedValue);
    }

    /** The file's text. */
    public String text() {
        StringBuilder text = new StringBuilder();
        for (String line : lines.values()) text.append(line).append('\n');
        return text.toString();
    }

    /** Writes the file, replacing what it held. */
    public void write() throws IOException {
        Files.write(file, ExactUtf8.encode(text(), "the record file"));
    }

    private RecordWriter store(String name, String key, String value) {
        checkName(name);
        checkText(value, "value");
        String line = key + "=" + value;
        if (line.getBytes(StandardCharsets.UTF_8).length + 2 > PropertyLines.LINE_BUFFER)
            throw new IllegalArgumentException("the launcher reads lines of at most " + (PropertyLines.LINE_BUFFER - 2)
                + " bytes; this one has more: " + name);
        // A name and the same name protected are one property.
        lines.remove(name);
        lines.put(name, line);
        return this;
    }

    private static void checkName(String name) {
        if (name.isEmpty()) throw new IllegalArgumentException("a name cannot be empty");
        if (name.indexOf('=') >= 0) throw new IllegalArgumentException("a name cannot hold \"=\": " + name);
        if (name.charAt(0) == '#') throw new IllegalArgumentException("a name cannot begin with \"#\": " + name);
        checkText(name, "name");
    }

    private static void checkText(String text, String what) {
        ExactUtf8.check(text, "a " + what);
        if (text.indexOf('\n') >= 0 || text.indexOf('\r') >= 0)
            throw new IllegalArgumentException("a " + what + " cannot hold a line end: " + text);
        if (!text.isEmpty() && (PropertyLines.isSpace(text.charAt(0)) || PropertyLines.isSpace(text.charAt(text.length() - 1))))
            throw new IllegalArgumentException("a " + what + " cannot begin or end with white space: \"" + text + "\"");
    }
}
