package org.talve.installer;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;

/**
 * UTF-8 without replacement. {@link String#getBytes} writes "?" for a lone
 * UTF-16 surrogate (a Windows file name may hold one), and "?" is a wildcard
 * to {@code cmd.exe} and another name to everything else: a writer of this
 * library refuses such text instead.
 */
final class ExactUtf8 {
    private ExactUtf8() {
    }

    /** The UTF-8 bytes of text; IllegalArgumentException naming {@code what} when UTF-8 cannot carry it. */
    static byte[] encode(String text, String what) {
        check(text, what);
        return text.getBytes(StandardCharsets.UTF_8);
    }

    /** IllegalArgumentException naming {@code what} when text holds a lone surrogate. */
    static void check(String text, String what) {
        for (int i = 0; i < text.length(); ++i) {
            char c = text.charAt(i);
            if (Character.isHighSurrogate(c) && i + 1 < text.length() && Character.isLowSurrogate(text.charAt(i + 1))) {
                ++i;
            } else if (Character.isSurrogate(c)) {
                throw new IllegalArgumentException(what + " holds a lone UTF-16 surrogate (at index " + i
                    + "), which UTF-8 cannot carry: " + text.substring(0, i) + "\\u" + Integer.toHexString(c) + "...");
            }
        }
    }

    /** The text of bytes that must be UTF-8; null when they are not. */
    static String decodeOrNull(byte[] bytes, int offset, int length) {
        try {
            return StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                .onUnmappableCharacter(CodingErrorAction.REPORT).decode(ByteBuffer.wrap(bytes, offset, length)).toString();
        } catch (CharacterCodingException e) {
            return null;
        }
    }
}
