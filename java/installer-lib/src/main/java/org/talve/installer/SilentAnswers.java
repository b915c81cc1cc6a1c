package org.talve.installer;

import java.io.IOException;
import java.nio.file.Path;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Optional;
import java.util.Properties;
import java.util.Set;

/**
 * The answers of a silent file, read by the same rules as the launcher's
 * check of it, so that the jar sees exactly the properties the launcher
 * accepted (see {@link PropertyLines}; {@link Properties} reads such files
 * differently). A name ending in {@value #ENCRYPTED_SUFFIX} carries a
 * protected value; it is decrypted and answered under the name without that
 * ending.
 */
public final class SilentAnswers {
    /** The ending of a name whose value is protected. */
    public static final String ENCRYPTED_SUFFIX = ".encrypted";

    private final Map<String, String> values;
    private final Set<String> protectedNames;

    private SilentAnswers(Map<String, String> values, Set<String> protectedNames) {
        this.values = Collections.unmodifiableMap(values);
        this.protectedNames = Collections.unmodifiableSet(protectedNames);
    }

    /**
     * Reads a silent file.
     *
     * @param file the file
     * @param key the user's key, or null: values of the launcher's own key and
     *     empty protected values need none
     * @throws IOException when the file cannot be read, names a property twice,
     *     or holds a protected value the key does not open (the message names the property)
     */
    public static SilentAnswers read(Path file, String key) throws IOException {
        return readWithKeyBytes(file, key == null ? null : ExactUtf8.encode(key, "the key"));
    }

    /**
     * Reads a silent file with the key's bytes as the launcher got them
     * (a key typed in a terminal that is not UTF-8 is no text).
     *
     * @see #read(Path, String)
     */
    public static SilentAnswers readWithKeyBytes(Path file, byte[] key) throws IOException {
        return from(PropertyLines.read(file), key, file.toString());
    }

    static SilentAnswers parse(byte[] text, String key) throws IOException {
        return from(PropertyLines.parse(text, "text"), key == null ? null : ExactUtf8.encode(key, "the key"), "text");
    }

    private static SilentAnswers from(Iterable<PropertyLines.Line> lines, byte[] key, String where) throws IOException {
        Map<String, String> values = new LinkedHashMap<>();
        Set<String> protectedNames = new java.util.LinkedHashSet<>();
        for (PropertyLines.Line line : lines) {
            boolean encrypted = line.name.endsWith(ENCRYPTED_SUFFIX);
            String name = encrypted ? line.name.substring(0, line.name.length() - ENCRYPTED_SUFFIX.length()) : line.name;
            if (values.containsKey(name))
                throw new IOException(where + ", line " + line.number + ": the property " + name + " is given twice");
            String value = line.value;
            if (encrypted && !value.isEmpty()) {
                byte[] text;
                try {
                    if (value.startsWith(ProtectedValue.PROGRAM_KEY_TAG)) {
                        text = ProtectedValue.programKey().decryptBytes(value);
                    } else if (key == null) {
                        throw new IOException(where + ", line " + line.number + ": the property " + line.name
                            + " is protected with a user's key, and no key was given");
                    } else {
                        text = ProtectedValue.decryptBytes(key, value);
                    }
                } catch (IllegalArgumentException e) {
                    throw new IOException(where + ", line " + line.number + ": the key does not fit the value of "
                        + line.name, e);
                }
                // Read as a value written in the file is.
                value = ExactUtf8.decodeOrNull(text, 0, text.length);
                if (value == null)
                    throw new IOException(where + ", line " + line.number + ": the value of " + line.name
                        + " is not UTF-8");
            }
            if (encrypted) protectedNames.add(name);
            values.put(name, value);
        }
        return new SilentAnswers(values, protectedNames);
    }

    /** The answer for a name (without {@value #ENCRYPTED_SUFFIX}), decrypted. */
    public Optional<String> get(String name) {
        return Optional.ofNullable(values.get(name));
    }

    /** The answer for a name, or {@code fallback} when the file has none. */
    public String get(String name, String fallback) {
        String value = values.get(name);
        return value == null ? fallback : value;
    }

    /** True when the file gave this name's value protected. */
    public boolean isProtected(String name) {
        return protectedNames.contains(name);
    }

    /** Every answer, in the file's order, protected ones decrypted. */
    public Map<String, String> asMap() {
        return values;
    }

    /** The answers as properties, protected ones decrypted. */
    public Properties asProperties() {
        Properties properties = new Properties();
        properties.putAll(values);
        return properties;
    }
}
