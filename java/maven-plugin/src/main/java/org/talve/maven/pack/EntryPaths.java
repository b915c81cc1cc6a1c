package org.talve.maven.pack;

import java.util.ArrayList;
import java.util.List;

/**
 * The rules that keep a runtime archive inside the folder it is unpacked
 * into; the unpacker refuses whatever breaks them, so the packer refuses it
 * first. Both separators count, since Windows reads either.
 */
final class EntryPaths {
    private EntryPaths() {
    }

    private static boolean isControl(char c) {
        return c < 0x20 || c == 0x7f;
    }

    static boolean hasControlCharacter(String text) {
        for (int i = 0; i < text.length(); ++i) {
            if (isControl(text.charAt(i))) return true;
        }
        return false;
    }

    private static boolean hasForbiddenCharacter(String path) {
        return path.indexOf(':') >= 0 || hasControlCharacter(path);
    }

    private static List<String> splitOnSeparators(String path) {
        List<String> parts = new ArrayList<>();
        StringBuilder part = new StringBuilder();
        for (int i = 0; i < path.length(); ++i) {
            char c = path.charAt(i);
            if (c == '/' || c == '\\') {
                parts.add(part.toString());
                part.setLength(0);
            } else {
                part.append(c);
            }
        }
        parts.add(part.toString());
        return parts;
    }

    static boolean isSafeEntryPath(String path) {
        if (path.isEmpty() || hasForbiddenCharacter(path)) return false;
        for (String part : splitOnSeparators(path)) {
            if (part.isEmpty() || part.equals(".") || part.equals("..")) return false;
        }
        return true;
    }

    /**
     * Relative, every ".." at the start and no more of them than the link is
     * deep: a ".." after a name could climb out through another link.
     */
    static boolean isSafeLinkTarget(String linkPath, String target) {
        if (target.isEmpty() || hasForbiddenCharacter(target)) return false;
        if (target.charAt(0) == '/' || target.charAt(0) == '\\') return false;
        int linkDepth = splitOnSeparators(linkPath).size() - 1;
        int climbs = 0;
        boolean descended = false;
        for (String part : splitOnSeparators(target)) {
            if (part.isEmpty() || part.equals(".")) continue;
            if (part.equals("..")) {
                if (descended) return false;
                ++climbs;
            } else {
                descended = true;
            }
        }
        return climbs <= linkDepth;
    }

    /** Control characters written as "\x0a" and the like, so that a message stays on one line. */
    static String printablePath(String path) {
        StringBuilder shown = new StringBuilder();
        for (int i = 0; i < path.length(); ++i) {
            char c = path.charAt(i);
            if (isControl(c)) {
                shown.append(String.format("\\x%02x", (int) c));
            } else {
                shown.append(c);
            }
        }
        return shown.toString();
    }
}
