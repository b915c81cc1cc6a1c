package org.talve.maven.pack;

import java.nio.charset.StandardCharsets;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/**
 * Adds the launcher's own options to an argument specification that does not
 * declare them, as "talve-pack create --args-spec" does: the same blocks, in
 * the same order, read by the launcher's rules for what a text declares.
 */
final class LauncherOptions {
    private LauncherOptions() {
    }

    /** Name, type and whether the value is optional, in the order the blocks are added. */
    private static final String[][] OPTIONS = {
        {"-help", "NoValue", ""}, {"-h", "NoValue", ""}, {"-console", "NoValue", ""},
        {"-multipleInstance", "NoValue", ""}, {"-noSplashScreen", "NoValue", ""}, {"-tempdir", "String", ""},
        {"-javaArgs", "String", ""}, {"-location", "String", ""}, {"-javaHome", "String", ""},
        {"-key", "String", "True"}, {"-silent", "String", ""}, {"-record", "String", ""},
    };

    static byte[] addTo(byte[] specification) throws PackException {
        // Specifications are 8-bit text: one char per byte keeps every byte as it was.
        String text = new String(specification, StandardCharsets.ISO_8859_1);
        Set<String> declared = declaredNames(text);
        StringBuilder added = new StringBuilder();
        List<String> addedNames = new ArrayList<>();
        for (String[] option : OPTIONS) {
            if (declared.contains(option[0])) continue;
            added.append(option[0]).append("{\nType=").append(option[1]).append('\n');
            if (!option[2].isEmpty()) added.append("Optional=").append(option[2]).append('\n');
            added.append("}\n");
            addedNames.add(option[0]);
        }
        if (addedNames.isEmpty()) return specification;
        String merged = text;
        if (!merged.isEmpty() && !merged.endsWith("\n") && !merged.endsWith("\r")) merged += "\n";
        merged += added;
        Set<String> after = declaredNames(merged);
        for (String name : addedNames) {
            if (!after.contains(name)) {
                throw new PackException("the launcher's own option " + name + " cannot be added behind this specification:"
                        + " the launcher stops reading it before its end (a stray line before the first block, or a NUL"
                        + " byte); mend the text or declare the launcher's options in it");
            }
        }
        return merged.getBytes(StandardCharsets.ISO_8859_1);
    }

    /** The names a specification registers: a block counts once its closing line is read while it is the current one. */
    static Set<String> declaredNames(String text) {
        Reader reader = new Reader(text);
        Set<String> names = new HashSet<>();
        Deque<Block> levels = new ArrayDeque<>();
        levels.push(new Block(""));
        while (!levels.isEmpty()) {
            if (!reader.next()) {
                levels.pop();
                continue;
            }
            Block current = levels.peek();
            if (reader.kind == Kind.OPEN) {
                levels.push(new Block(reader.name));
            } else if (reader.kind == Kind.CLOSE && !current.registered) {
                current.registered = true;
                names.add(current.name);
            }
        }
        return names;
    }

    private static final class Block {
        final String name;
        boolean registered;

        Block(String name) {
            this.name = name;
        }
    }

    private enum Kind { OPEN, CLOSE, ATTRIBUTE }

    /** Lines end at every CR and every LF; blanks are spaces and tabs; the text ends at its first NUL. */
    private static final class Reader {
        private final String text;
        private int offset;
        private boolean atEnd;
        private final Deque<String> openBlocks = new ArrayDeque<>();
        Kind kind;
        String name;

        Reader(String text) {
            int nul = text.indexOf('\0');
            this.text = nul < 0 ? text : text.substring(0, nul);
        }

        private static String trimmed(String line) {
            int first = 0;
            int last = line.length();
            while (first < last && (line.charAt(first) == ' ' || line.charAt(first) == '\t')) ++first;
            while (last > first && (line.charAt(last - 1) == ' ' || line.charAt(last - 1) == '\t')) --last;
            return line.substring(first, last);
        }

        private String takeLine() {
            if (atEnd) return null;
            int end = offset;
            while (end < text.length() && text.charAt(end) != '\r' && text.charAt(end) != '\n') ++end;
            String line = text.substring(offset, end);
            if (end == text.length()) {
                atEnd = true;
            } else {
                offset = end + 1;
                atEnd = offset >= text.length();
            }
            return line;
        }

        boolean next() {
            String line;
            do {
                line = takeLine();
                if (line == null) return false;
                line = trimmed(line);
            } while (line.isEmpty());
            if (line.indexOf('=') >= 0) {
                kind = Kind.ATTRIBUTE;
                return true;
            }
            if (line.charAt(line.length() - 1) == '{') {
                kind = Kind.OPEN;
                name = trimmed(line.substring(0, line.length() - 1));
                openBlocks.push(name);
                return true;
            }
            if (line.charAt(0) == '}' && !openBlocks.isEmpty()) {
                kind = Kind.CLOSE;
                openBlocks.pop();
                return true;
            }
            return false;
        }
    }
}
