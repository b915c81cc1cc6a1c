package org.talve.maven.pack;

import java.io.ByteArrayOutputStream;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;

/**
 * Names as the file system holds them. On POSIX systems a name is bytes, and
 * Path.toString decodes them in the locale's encoding, which under LANG=C
 * knows no letter beyond ASCII: the string is then another name, or none.
 * A path's URI carries its bytes exactly, percent-encoded, in any locale, so
 * the names are taken from there. The archive holds names as UTF-8, as the
 * native packer writes them; a name that is not UTF-8 is refused by name.
 */
final class FileNames {
    private FileNames() {
    }

    /** The name of the last element of an entry found by listing its folder. */
    static String nameOf(Path entry) throws PackException {
        if (isWindows(entry)) return checkedText(entry, entry.getFileName().toString());
        String raw = entry.toAbsolutePath().toUri().getRawPath();
        // A folder's URI ends in "/"; no name holds one.
        if (raw.endsWith("/")) raw = raw.substring(0, raw.length() - 1);
        return decode(entry, raw.substring(raw.lastIndexOf('/') + 1));
    }

    /** A link target or a relative path, "/" between its names. */
    static String textOf(Path path, Path base) throws PackException {
        if (isWindows(path)) return checkedText(path, path.toString().replace('\\', '/'));
        if (path.toString().isEmpty()) return "";
        StringBuilder text = new StringBuilder(path.isAbsolute() ? "/" : "");
        for (int i = 0; i < path.getNameCount(); ++i) {
            if (i > 0) text.append('/');
            text.append(nameOf(base.resolve(path.getName(i))));
        }
        return text.toString();
    }

    private static boolean isWindows(Path path) {
        return path.getFileSystem().getSeparator().equals("\\");
    }

    private static String checkedText(Path path, String text) throws PackException {
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (Character.isHighSurrogate(c) && i + 1 < text.length() && Character.isLowSurrogate(text.charAt(i + 1))) {
                ++i;
            } else if (Character.isSurrogate(c)) {
                throw new PackException("cannot carry " + path + ": its name holds a lone UTF-16 surrogate, which UTF-8 "
                        + "cannot carry; rename it");
            }
        }
        return text;
    }

    private static String decode(Path entry, String percentEncoded) throws PackException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        for (int i = 0; i < percentEncoded.length(); ++i) {
            char c = percentEncoded.charAt(i);
            if (c == '%' && i + 2 < percentEncoded.length()) {
                bytes.write(Integer.parseInt(percentEncoded.substring(i + 1, i + 3), 16));
                i += 2;
            } else {
                bytes.write(c);
            }
        }
        byte[] name = bytes.toByteArray();
        try {
            return StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT).decode(ByteBuffer.wrap(name)).toString();
        } catch (CharacterCodingException e) {
            throw new PackException("cannot carry " + EntryPaths.printablePath(entry.toString()) + ": its name is not UTF-8 ("
                    + shown(name) + "), and the unpacker writes names as UTF-8; rename it");
        }
    }

    private static String shown(byte[] name) {
        StringBuilder text = new StringBuilder();
        for (byte b : name) {
            if (b >= 0x20 && b < 0x7f) text.append((char) b);
            else text.append(String.format("\\x%02x", b & 0xff));
        }
        return text.toString();
    }
}
