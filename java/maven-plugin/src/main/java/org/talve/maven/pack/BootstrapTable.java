package org.talve.maven.pack;

import java.nio.charset.StandardCharsets;

/**
 * The table behind the launcher: zero padding to a multiple of 1,024
 * bytes, a 32-byte marker, eight 64-byte rows, then the payloads, each on a
 * 4 KiB boundary with zeros before it. Texts are NUL-padded and need no
 * terminator when they fill their field.
 */
final class BootstrapTable {
    static final int ALIGNMENT = 1024;
    // Where the file system can share blocks, the launcher's copy of a payload
    // that starts on a block boundary costs no data written.
    static final int PAYLOAD_ALIGNMENT = 4096;
    static final int MARKER_SIZE = 32;
    static final int ENTRY_COUNT = 8;
    static final int ENTRY_SIZE = 64;
    static final int FILENAME_WIDTH = 12;
    // The launcher reads these two whole into buffers of these sizes and skips a payload of the size or more.
    static final int USAGE_LIMIT = 4096;
    static final int ARGUMENTS_LIMIT = 8192;

    private BootstrapTable() {
    }

    /** Where a payload that follows end starts. */
    static long payloadStart(long end) {
        return (end + PAYLOAD_ALIGNMENT - 1) / PAYLOAD_ALIGNMENT * PAYLOAD_ALIGNMENT;
    }

    static final class Row {
        String id = "";
        long position;
        long length;
        long diskspace;
        String filename = "";
        String data1 = "";
        String data2 = "";
    }

    static byte[] marker() {
        byte[] marker = new byte[MARKER_SIZE];
        byte[] magic = {(byte) 0xBA, (byte) 0xDC, 0x0D, (byte) 0xE5};
        byte[] text = "_BOOTSTRAP_TABLE_MARKER_".getBytes(StandardCharsets.US_ASCII);
        System.arraycopy(magic, 0, marker, 0, 4);
        System.arraycopy(text, 0, marker, 4, text.length);
        System.arraycopy(magic, 0, marker, 4 + text.length, 4);
        return marker;
    }

    private static void putText(byte[] row, int offset, int width, String text) {
        byte[] bytes = text.getBytes(StandardCharsets.UTF_8);
        System.arraycopy(bytes, 0, row, offset, Math.min(bytes.length, width));
    }

    static byte[] encode(Row row) {
        byte[] bytes = new byte[ENTRY_SIZE];
        putText(bytes, 0, 8, row.id);
        LittleEndian.put(bytes, 8, row.position, 4);
        LittleEndian.put(bytes, 12, row.length, 4);
        LittleEndian.put(bytes, 16, row.diskspace, 4);
        putText(bytes, 20, FILENAME_WIDTH, row.filename);
        putText(bytes, 32, 16, row.data1);
        putText(bytes, 48, 16, row.data2);
        return bytes;
    }

    /** Whether the launcher's search, on 1,024-byte boundaries, would find a table in these bytes. */
    static boolean carriesMarker(byte[] bytes) {
        byte[] marker = marker();
        for (int offset = 0; offset + MARKER_SIZE <= bytes.length; offset += ALIGNMENT) {
            boolean same = true;
            for (int i = 0; i < MARKER_SIZE && same; ++i) same = bytes[offset + i] == marker[i];
            if (same) return true;
        }
        return false;
    }
}
