package org.talve.maven.pack;

import java.util.Arrays;

/**
 * The few fields of a Windows program's headers a signature touches: the
 * checksum, the Security data directory entry and the certificate table it
 * points at.
 */
final class PeImage {
    private static final int HEADER_POINTER_OFFSET = 0x3c;
    private static final int COFF_HEADER_SIZE = 20;
    private static final int PE32_MAGIC = 0x10b;
    private static final int PE32_PLUS_MAGIC = 0x20b;
    private static final int SECURITY_DIRECTORY_INDEX = 4;
    static final int SECURITY_ENTRY_SIZE = 8;
    private static final int SECTION_HEADER_SIZE = 40;

    enum Kind { NOT_PE, DAMAGED, IMAGE }

    Kind kind = Kind.NOT_PE;
    String problem = "";
    int optionalHeaderOffset;
    int checksumOffset;
    // The data directories and the section table, which new resources change.
    int directoriesOffset;
    long directoryCount;
    int sectionTableOffset;
    int sectionCount;
    int securityEntryOffset = -1;
    long certificateOffset;
    long certificateSize;
    // Where the headers, the section table and the sections' raw data end:
    // a certificate table starting before this point overlaps the program.
    long programEnd;

    boolean hasCertificates() {
        return certificateOffset != 0 || certificateSize != 0;
    }

    private static boolean holds(byte[] bytes, long offset, long width) {
        return offset <= bytes.length && width <= bytes.length - offset;
    }

    private static PeImage damaged(String problem) {
        PeImage image = new PeImage();
        image.kind = Kind.DAMAGED;
        image.problem = problem;
        return image;
    }

    static PeImage read(byte[] head) {
        PeImage image = new PeImage();
        if (!holds(head, 0, 2) || head[0] != 'M' || head[1] != 'Z') {
            image.problem = "no MZ header";
            return image;
        }
        if (!holds(head, HEADER_POINTER_OFFSET, 4)) return damaged("the MS-DOS header is cut short");
        long peHeader = LittleEndian.get(head, HEADER_POINTER_OFFSET, 4);
        if (!holds(head, peHeader, 4) || head[(int) peHeader] != 'P' || head[(int) peHeader + 1] != 'E'
                || head[(int) peHeader + 2] != 0 || head[(int) peHeader + 3] != 0) {
            image.problem = "an MS-DOS program without a PE header";
            return image;
        }
        int coff = (int) peHeader + 4;
        if (!holds(head, coff, COFF_HEADER_SIZE)) return damaged("the file header is cut short");
        int optionalSize = (int) LittleEndian.get(head, coff + 16, 2);
        int optional = coff + COFF_HEADER_SIZE;
        if (!holds(head, optional, optionalSize) || optionalSize < 2) return damaged("the optional header is cut short");
        long magic = LittleEndian.get(head, optional, 2);
        if (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) return damaged("an optional header of unknown format");
        boolean pe32Plus = magic == PE32_PLUS_MAGIC;
        // Up to the checksum both formats have the same widths; PE32+ widens
        // four later fields, which moves the data directories.
        image.optionalHeaderOffset = optional;
        image.checksumOffset = optional + 64;
        image.sectionTableOffset = optional + optionalSize;
        image.sectionCount = (int) LittleEndian.get(head, coff + 2, 2);
        int countOffset = optional + (pe32Plus ? 108 : 92);
        if (countOffset + 4 > optional + optionalSize) return damaged("the optional header is cut short");
        long directoryCount = LittleEndian.get(head, countOffset, 4);
        image.directoriesOffset = countOffset + 4;
        image.directoryCount = directoryCount;
        int entry = countOffset + 4 + SECURITY_DIRECTORY_INDEX * SECURITY_ENTRY_SIZE;
        if (directoryCount > SECURITY_DIRECTORY_INDEX && entry + SECURITY_ENTRY_SIZE <= optional + optionalSize) {
            image.securityEntryOffset = entry;
            image.certificateOffset = LittleEndian.get(head, entry, 4);
            image.certificateSize = LittleEndian.get(head, entry + 4, 4);
        }
        image.programEnd = programEnd(head, coff, optional, optionalSize);
        image.kind = Kind.IMAGE;
        return image;
    }

    private static long programEnd(byte[] head, int coff, int optional, int optionalSize) {
        long sections = LittleEndian.get(head, coff + 2, 2);
        long table = (long) optional + optionalSize;
        long end = table + sections * SECTION_HEADER_SIZE;
        if (holds(head, optional + 60, 4)) end = Math.max(end, LittleEndian.get(head, optional + 60, 4));
        for (long i = 0; i < sections && holds(head, table + i * SECTION_HEADER_SIZE, SECTION_HEADER_SIZE); ++i) {
            int section = (int) (table + i * SECTION_HEADER_SIZE);
            long rawSize = LittleEndian.get(head, section + 16, 4);
            long rawStart = LittleEndian.get(head, section + 20, 4);
            if (rawSize != 0) end = Math.max(end, rawStart + rawSize);
        }
        return end;
    }

    /** Empty when the table lies inside the file and ends it, as every signing tool writes it. */
    String certificateProblem(long fileSize) {
        long end = certificateOffset + certificateSize;
        String table = "the certificate table (offset " + certificateOffset + ", " + certificateSize + " bytes)";
        if (certificateOffset == 0 || certificateSize == 0) {
            return "the certificate table is empty (offset " + certificateOffset + ", " + certificateSize + " bytes)";
        }
        if (certificateOffset < programEnd) {
            return table + " starts inside the program, whose headers and sections end at offset " + programEnd;
        }
        if (end > fileSize) return table + " reaches beyond the end of the file (" + fileSize + " bytes)";
        if (end != fileSize) return table + " is not at the end of the file: " + (fileSize - end) + " bytes follow it";
        return "";
    }

    /**
     * A signature inside an installer covers nothing and makes the signing
     * tools refuse or warn: the launcher goes in unsigned. Returns the bytes
     * without the certificate table, or the same array when unsigned.
     */
    static byte[] stripSignature(byte[] bytes) throws PackException {
        PeImage image = read(bytes);
        if (image.kind != Kind.IMAGE || !image.hasCertificates()) return bytes;
        String problem = image.certificateProblem(bytes.length);
        if (!problem.isEmpty()) throw new PackException("a damaged signature: " + problem);
        byte[] stripped = Arrays.copyOf(bytes, (int) image.certificateOffset);
        Arrays.fill(stripped, image.securityEntryOffset, image.securityEntryOffset + SECURITY_ENTRY_SIZE, (byte) 0);
        return stripped;
    }

    /** The image checksum, summed as the bytes stream past in file order. */
    static final class Checksum {
        private long sum;
        private long size;
        private int pendingLow = -1;

        void update(byte[] bytes, int offset, int length) {
            for (int i = offset; i < offset + length; ++i) {
                int b = bytes[i] & 0xff;
                if (pendingLow < 0) {
                    pendingLow = b;
                } else {
                    add(pendingLow | (b << 8));
                    pendingLow = -1;
                }
            }
            size += length;
        }

        private void add(int word) {
            sum += word;
            sum = (sum & 0xffff) + (sum >>> 16);
        }

        long value() {
            long total = sum;
            if (pendingLow >= 0) {
                total += pendingLow;
                total = (total & 0xffff) + (total >>> 16);
            }
            total = (total & 0xffff) + (total >>> 16);
            return (total + size) & 0xffffffffL;
        }
    }
}
