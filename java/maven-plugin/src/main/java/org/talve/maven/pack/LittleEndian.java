package org.talve.maven.pack;

/** The integers of both file formats: little-endian, written byte by byte. */
final class LittleEndian {
    private LittleEndian() {
    }

    static void put(byte[] bytes, int offset, long value, int width) {
        for (int i = 0; i < width; ++i) bytes[offset + i] = (byte) (value >>> (8 * i));
    }

    static long get(byte[] bytes, int offset, int width) {
        long value = 0;
        for (int i = width - 1; i >= 0; --i) value = (value << 8) | (bytes[offset + i] & 0xff);
        return value;
    }
}
