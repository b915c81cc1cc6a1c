package org.talve.maven.pack;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Map;

/**
 * The version information block of a Windows program, in one language
 * (neutral) and the Unicode code page, as tools/pack/version_info.cpp writes it.
 */
final class VersionInfo {
    /** The most a text may hold, in UTF-16 units: with every field that long the block still fits its 16-bit lengths. */
    static final int MAX_TEXT = 1024;

    private static final long FIXED_INFO_SIGNATURE = 0xfeef04bdL;
    private static final long FIXED_INFO_VERSION = 0x00010000L;
    private static final long ALL_FILE_FLAGS = 0x3f;
    private static final long WINDOWS_NT_32 = 0x00040004L;
    private static final long APPLICATION = 1;
    private static final int BINARY_VALUE = 0;
    private static final int TEXT_VALUE = 1;
    // Language neutral (0000), code page 1200 (04b0): UTF-16.
    private static final String STRING_TABLE_KEY = "000004b0";
    private static final long TRANSLATION = 0x04b00000L;

    private VersionInfo() {
    }

    /** Dotted numbers, one to four parts of 0 to 65535, as {high, low}; null when text is none. */
    static long[] parseNumber(String text) {
        long[] parts = new long[4];
        int count = 0;
        int at = 0;
        while (true) {
            int end = at;
            while (end < text.length() && text.charAt(end) >= '0' && text.charAt(end) <= '9') ++end;
            if (end == at || end - at > 5 || count == 4) return null;
            long part = Long.parseLong(text.substring(at, end));
            if (part > 0xffff) return null;
            parts[count++] = part;
            if (end == text.length()) break;
            if (text.charAt(end) != '.') return null;
            at = end + 1;
        }
        return new long[] {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
    }

    /** Null when the text can be written, else what is wrong with it. */
    static String textProblem(String text) {
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (Character.isSurrogate(c)) {
                boolean pair = Character.isHighSurrogate(c) && i + 1 < text.length()
                        && Character.isLowSurrogate(text.charAt(i + 1));
                if (!pair) return "not UTF-8 text";
                ++i;
            } else if (c < 0x20 || c == 0x7f) {
                return "holds a control character";
            }
        }
        if (text.length() > MAX_TEXT) {
            return text.length() + " characters, too long for the version information (at most " + MAX_TEXT + ")";
        }
        return null;
    }

    private static void pad4(ByteArrayOutputStream bytes) {
        while (bytes.size() % 4 != 0) bytes.write(0);
    }

    private static byte[] utf16(String text) {
        return text.getBytes(StandardCharsets.UTF_16LE);
    }

    // A node: length, value length, type, key, value, children, each of the
    // last three starting on a 4-byte boundary.
    private static byte[] node(String key, int type, byte[] value, int valueLength, byte[]... children) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.write(new byte[6], 0, 6);
        byte[] name = utf16(key + '\0');
        out.write(name, 0, name.length);
        pad4(out);
        out.write(value, 0, value.length);
        for (byte[] child : children) {
            pad4(out);
            out.write(child, 0, child.length);
        }
        byte[] bytes = out.toByteArray();
        LittleEndian.put(bytes, 0, bytes.length, 2);
        LittleEndian.put(bytes, 2, valueLength, 2);
        LittleEndian.put(bytes, 4, type, 2);
        return bytes;
    }

    /** The resource data: file and product versions as {high, low}, then the texts by key in their order. */
    static byte[] resource(long[] fileVersion, long[] productVersion, List<Map.Entry<String, String>> strings) {
        byte[][] children = new byte[strings.size()][];
        for (int i = 0; i < children.length; ++i) {
            String value = strings.get(i).getValue() + '\0';
            children[i] = node(strings.get(i).getKey(), TEXT_VALUE, utf16(value), value.length());
        }
        byte[] table = node(STRING_TABLE_KEY, TEXT_VALUE, new byte[0], 0, children);
        byte[] translation = new byte[4];
        LittleEndian.put(translation, 0, TRANSLATION, 4);
        byte[] var = node("Translation", BINARY_VALUE, translation, 4);
        long[] fields = {FIXED_INFO_SIGNATURE, FIXED_INFO_VERSION, fileVersion[0], fileVersion[1], productVersion[0],
            productVersion[1], ALL_FILE_FLAGS, 0, WINDOWS_NT_32, APPLICATION, 0, 0, 0};
        byte[] fixed = new byte[52];
        for (int i = 0; i < fields.length; ++i) LittleEndian.put(fixed, i * 4, fields[i], 4);
        return node("VS_VERSION_INFO", BINARY_VALUE, fixed, 52,
                node("StringFileInfo", TEXT_VALUE, new byte[0], 0, table), node("VarFileInfo", TEXT_VALUE, new byte[0], 0, var));
    }
}
