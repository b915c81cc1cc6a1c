package org.talve.maven.pack;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.AbstractMap;
import java.util.ArrayList;
import java.util.EnumMap;
import java.util.List;
import java.util.Map;

/**
 * What a Windows installer carries besides its payloads: its icon, version
 * information and the execution level its manifest asks for; the options
 * --icon, --product-name ... --execution-level of "talve-pack create", with
 * the same bytes as a result.
 */
public final class WindowsResources {
    /** The texts of the version information, in the order it lists them. */
    public enum Field {
        COMPANY("CompanyName"), DESCRIPTION("FileDescription"), FILE_VERSION("FileVersion"), COPYRIGHT("LegalCopyright"),
        ORIGINAL_FILENAME("OriginalFilename"), PRODUCT_NAME("ProductName"), PRODUCT_VERSION("ProductVersion");

        final String key;

        Field(String key) {
            this.key = key;
        }
    }

    private static final String[] EXECUTION_LEVELS = {"asInvoker", "highestAvailable", "requireAdministrator"};
    private static final String SNAPSHOT = "-SNAPSHOT";

    private Path icon;
    private String executionLevel;
    private final EnumMap<Field, String> texts = new EnumMap<>(Field.class);
    private long[] fileVersion = {0, 0};
    private long[] productVersion = {0, 0};

    /** An ICO file whose images become the program's first icon group. */
    public WindowsResources icon(Path file) {
        icon = file;
        return this;
    }

    Path icon() {
        return icon;
    }

    /** asInvoker, highestAvailable or requireAdministrator; null keeps the launcher's own. */
    public WindowsResources executionLevel(String level) throws PackException {
        if (level != null && !java.util.Arrays.asList(EXECUTION_LEVELS).contains(level)) {
            throw new PackException("takes asInvoker, highestAvailable or requireAdministrator, not '" + level + "'");
        }
        executionLevel = level;
        return this;
    }

    /**
     * A text of the version information; the two versions must be dotted
     * numbers (up to four, each 0 to 65535), which also give the numeric fields.
     */
    public WindowsResources text(Field field, String value) throws PackException {
        return version(field, value, value);
    }

    /**
     * A version shown as text whose numeric fields come from numbers; for
     * the file and product versions only.
     */
    public WindowsResources version(Field field, String text, String numbers) throws PackException {
        if (text.isEmpty()) throw new PackException("an empty text");
        String problem = VersionInfo.textProblem(text);
        if (field == Field.FILE_VERSION || field == Field.PRODUCT_VERSION) {
            long[] parsed = VersionInfo.parseNumber(numbers);
            if (parsed == null) {
                throw new PackException("'" + numbers + "' is not a version of dotted numbers (up to four, each 0 to 65535)");
            }
            if (problem != null) throw new PackException(problem);
            if (field == Field.FILE_VERSION) fileVersion = parsed;
            else productVersion = parsed;
        } else if (problem != null) {
            throw new PackException(problem);
        }
        texts.put(field, text);
        return this;
    }

    /** A Maven project's version: shown as it is, its numeric fields without a -SNAPSHOT suffix. */
    public WindowsResources projectVersion(Field field, String version) throws PackException {
        String numbers = version.endsWith(SNAPSHOT) ? version.substring(0, version.length() - SNAPSHOT.length()) : version;
        return version(field, version, numbers);
    }

    /** Whether anything is to be written: with nothing, the launcher goes in unchanged. */
    public boolean given() {
        return icon != null || executionLevel != null || !texts.isEmpty();
    }

    /** The option a Linux launcher is refused for, as talve-pack names it. */
    String firstGiven() {
        if (icon != null) return "--icon";
        if (executionLevel != null) return "--execution-level";
        for (Field field : Field.values()) {
            if (texts.containsKey(field)) return "--" + field.name().toLowerCase(java.util.Locale.ROOT).replace('_', '-');
        }
        return "";
    }

    /** The stub with these resources written in; the original file name defaults to outputName. */
    byte[] apply(byte[] stub, byte[] iconBytes, String outputName) throws PackException {
        List<PeResources.Resource> resources;
        try {
            resources = PeResources.read(stub);
        } catch (PackException e) {
            throw new PackException("the launcher's resources: " + e.getMessage(), e);
        }
        if (icon != null) {
            List<PeResources.Resource> icons;
            try {
                icons = IconFile.resources(iconBytes);
            } catch (PackException e) {
                throw new PackException(icon + ": not a valid icon file: " + e.getMessage(), e);
            }
            resources.removeIf(r -> r.type == PeResources.ICON || r.type == PeResources.ICON_GROUP);
            resources.addAll(icons);
        }
        if (!texts.isEmpty()) {
            List<Map.Entry<String, String>> strings = new ArrayList<>();
            for (Field field : Field.values()) {
                String value = texts.get(field);
                if (value == null && field == Field.ORIGINAL_FILENAME) value = outputName;
                if (value == null || value.isEmpty()) continue;
                String problem = VersionInfo.textProblem(value);
                if (problem != null) throw new PackException("--original-filename: " + problem);
                strings.add(new AbstractMap.SimpleEntry<>(field.key, value));
            }
            resources.removeIf(r -> r.type == PeResources.VERSION);
            resources.add(new PeResources.Resource(PeResources.VERSION, 1, 0, 0,
                    VersionInfo.resource(fileVersion, productVersion, strings)));
        }
        if (executionLevel != null) {
            boolean found = false;
            for (PeResources.Resource resource : resources) {
                if (resource.type != PeResources.MANIFEST) continue;
                byte[] changed = withExecutionLevel(resource.data, executionLevel);
                if (changed != null) {
                    resource.data = changed;
                    found = true;
                }
            }
            if (!found) throw new PackException("the launcher's manifest names no execution level to change");
        }
        try {
            return PeResources.replace(stub, resources);
        } catch (PackException e) {
            throw new PackException("the launcher: " + e.getMessage(), e);
        }
    }

    // Bytes, not text: the rest of the manifest stays exactly as it was.
    private static byte[] withExecutionLevel(byte[] manifest, String level) {
        String text = new String(manifest, StandardCharsets.ISO_8859_1);
        int element = text.indexOf("<requestedExecutionLevel");
        if (element < 0) return null;
        int end = text.indexOf('>', element);
        int attribute = text.indexOf(" level=", element);
        if (attribute < 0 || attribute > end || attribute + 8 > end) return null;
        char quote = text.charAt(attribute + 7);
        int value = attribute + 8;
        int close = text.indexOf(quote, value);
        if ((quote != '"' && quote != '\'') || close < 0 || close > end) return null;
        return (text.substring(0, value) + level + text.substring(close)).getBytes(StandardCharsets.ISO_8859_1);
    }
}
