package org.talve.installer;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * Silent and record files as the launcher reads them: lines end at a line
 * feed only (a CR-only file is one line), a line of 8,192 bytes or more with
 * its line feed is left out whole, each line is trimmed of blanks, tabs, CR,
 * vertical tabs and form feeds; empty lines, lines whose first character is
 * "#" and lines without "=" are skipped; the name is the text before the
 * first "=" and the value the text after it, both trimmed. No escapes, no
 * continuation lines, ":" is no separator.
 */
final class PropertyLines {
    /** The launcher's line buffer, in bytes, line feed and terminator included. */
    static final int LINE_BUFFER = 8192;
    /** A silent file larger than this is refused by the launcher. */
    static final long LARGEST_FILE = 16L << 20;

    static final class Line {
        final int number;
        final String name;
        final String value;

        Line(int number, String name, String value) {
            this.number = number;
            this.name = name;
            this.value = value;
        }
    }

    private PropertyLines() {
    }

    static List<Line> read(Path file) throws IOException {
        if (!Files.isRegularFile(file)) throw new IOException("not a regular file: " + file);
        if (Files.size(file) > LARGEST_FILE) throw new IOException("larger than " + LARGEST_FILE + " bytes: " + file);
        return parse(Files.readAllBytes(file), file.toString());
    }

    // The launcher tells comments and lines without "=" by their bytes, so
    // they may be in any encoding; only names and values reach the jar as text.
    static List<Line> parse(byte[] bytes, String where) throws IOException {
        List<Line> lines = new ArrayList<>();
        int begin = 0;
        int number = 0;
        while (begin < bytes.length) {
            ++number;
            int end = begin;
            while (end < bytes.length && bytes[end] != '\n') ++end;
            boolean terminated = end < bytes.length;
            int stored = end - begin + (terminated ? 1 : 0);
            if (stored + 1 <= LINE_BUFFER) {
                int first = skipSpace(bytes, begin, end);
                int last = trimEnd(bytes, first, end);
                int equals = first;
                while (equals < last && bytes[equals] != '=') ++equals;
                if (first < last && bytes[first] != '#' && equals < last) {
                    int nameBegin = first;
                    int nameEnd = trimEnd(bytes, nameBegin, equals);
                    int valueBegin = skipSpace(bytes, equals + 1, last);
                    String name = ExactUtf8.decodeOrNull(bytes, nameBegin, nameEnd - nameBegin);
                    if (name == null) throw new IOException(where + ", line " + number + ": the name is not UTF-8");
                    String value = ExactUtf8.decodeOrNull(bytes, valueBegin, last - valueBegin);
                    if (value == null)
                        throw new IOException(where + ", line " + number + ": the value of " + name + " is not UTF-8");
                    lines.add(new Line(number, name, value));
                }
            }
            begin = end + 1;
        }
        return lines;
    }

    private static int skipSpace(byte[] bytes, int begin, int end) {
        while (begin < end && isSpace((char) bytes[begin])) ++begin;
        return begin;
    }

    private static int trimEnd(byte[] bytes, int begin, int end) {
        while (end > begin && isSpace((char) bytes[end - 1])) --end;
        return end;
    }

    /** White space as the C locale's isspace has it. */
    static boolean isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\u000b' || c == '\f' || c == '\r';
    }

    static String trimmed(String text) {
        int begin = 0;
        int end = text.length();
        while (begin < end && isSpace(text.charAt(begin))) ++begin;
        while (end > begin && isSpace(text.charAt(end - 1))) --end;
        return text.substring(begin, end);
    }
}
