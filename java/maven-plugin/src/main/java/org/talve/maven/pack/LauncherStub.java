package org.talve.maven.pack;

/** Whether bytes are a program a system can start, and so a launcher an installer can be made of. */
final class LauncherStub {
    // The Windows launcher, the smaller of the two, is several times larger:
    // anything below is a wrong or broken file.
    static final int MIN_SIZE = 64 * 1024;

    private LauncherStub() {
    }

    private static long number(byte[] bytes, int offset, int width, boolean bigEndian) {
        long value = 0;
        for (int i = 0; i < width; ++i) value = (value << 8) | (bytes[offset + (bigEndian ? i : width - 1 - i)] & 0xff);
        return value;
    }

    /** Null when fine, else what is wrong. */
    static String problem(byte[] bytes) {
        if (bytes.length < MIN_SIZE) {
            return bytes.length + " bytes, too small to be the launcher (at least " + MIN_SIZE + " expected)";
        }
        if (bytes[0] == 0x7f && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F') {
            if ((bytes[4] != 1 && bytes[4] != 2) || (bytes[5] != 1 && bytes[5] != 2)) return "a damaged ELF file";
            long type = number(bytes, 16, 2, bytes[5] == 2);
            // 2: an executable; 3: a position-independent one.
            if (type != 2 && type != 3) return "an ELF file that is not a program (an object file or a core dump?)";
            return null;
        }
        if (bytes[0] == 'M' && bytes[1] == 'Z') {
            long header = number(bytes, 0x3c, 4, false);
            if (header > bytes.length - 24 || bytes[(int) header] != 'P' || bytes[(int) header + 1] != 'E'
                    || bytes[(int) header + 2] != 0 || bytes[(int) header + 3] != 0) {
                return "an MS-DOS file without a Windows program in it";
            }
            long characteristics = number(bytes, (int) header + 22, 2, false);
            if ((characteristics & 0x0002) == 0 || (characteristics & 0x2000) != 0) return "a Windows DLL or object, not a program";
            return null;
        }
        return "not a program (neither ELF nor a Windows executable)";
    }
}
