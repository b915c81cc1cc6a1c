package org.talve.maven.pack;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.zip.CRC32;
import java.util.zip.Deflater;

import com.github.luben.zstd.ZstdCompressCtx;

/**
 * A packed Java runtime: the unpacker program, then the archive of the
 * runtime folder (a header, one entry per file, folder and link, each file
 * as independent zstd frames or one zlib stream), then a trailer the
 * unpacker finds from the end of its own file. The same bytes as
 * talve-pack's for the same folder, unpacker and compression, when both run
 * the same zstd version.
 */
public final class RuntimeArchive {
    static final byte[] TRAILER_MAGIC = "TLVRTEND".getBytes(StandardCharsets.US_ASCII);
    static final byte[] HEADER_MAGIC = "TLVRTARC".getBytes(StandardCharsets.US_ASCII);
    static final int FORMAT_VERSION = 2;
    static final int OLDEST_FORMAT_VERSION = 1;
    static final int TRAILER_SIZE = 24;
    static final int HEADER_SIZE = 32;
    static final long BLOCK_SIZE = 4096;
    private static final int FLAG_EXECUTABLE = 1;
    // Unpackers are programs of a few megabytes; anything far larger is a wrong file.
    private static final long MAX_STUB_SIZE = 256L << 20;
    // zlib's stream is the same however its input is cut; these match
    // talve-pack's reads so that nothing depends on that.
    private static final int BUFFER_SIZE = 1 << 18;
    private static final int COMPRESSION_LEVEL = 6;
    static final int ZSTD_FRAME_SIZE = 4 << 20;
    private static final int CODEC_SHIFT = 4;

    private RuntimeArchive() {
    }

    /** How file data is compressed: zstd (the default, level 19) or deflate, as earlier versions wrote. */
    public static final class Compression {
        public static final int DEFAULT_ZSTD_LEVEL = 19;
        static final int DEFLATE = 0;
        static final int ZSTD = 1;

        final int codec;
        final int level;

        private Compression(int codec, int level) {
            this.codec = codec;
            this.level = level;
        }

        public static Compression zstd(int level) {
            if (level < 1 || level > 22) throw new IllegalArgumentException("zstd levels are 1 to 22, not " + level);
            return new Compression(ZSTD, level);
        }

        public static Compression zstd() {
            return zstd(DEFAULT_ZSTD_LEVEL);
        }

        public static Compression deflate() {
            return new Compression(DEFLATE, 0);
        }

        /** "zstd" or "deflate", as talve-pack's --compression takes them. */
        public static Compression named(String name, int zstdLevel) {
            if ("zstd".equals(name)) return zstd(zstdLevel);
            if ("deflate".equals(name)) return deflate();
            throw new IllegalArgumentException("unknown compression " + name + " (zstd or deflate)");
        }
    }

    /** What a packing made: the file and the disk space the runtime needs once unpacked. */
    public static final class Result {
        public final Path output;
        public final long unpackedBytes;
        public final boolean windowsRuntime;

        Result(Path output, long unpackedBytes, boolean windowsRuntime) {
            this.output = output;
            this.unpackedBytes = unpackedBytes;
            this.windowsRuntime = windowsRuntime;
        }
    }

    /** Disk space in whole blocks: every folder one, a file its size rounded up, a link none. */
    static long diskUsageOf(RuntimeTree.Type type, long originalSize) {
        if (type == RuntimeTree.Type.DIRECTORY) return BLOCK_SIZE;
        if (type != RuntimeTree.Type.FILE) return 0;
        return (originalSize + BLOCK_SIZE - 1) / BLOCK_SIZE * BLOCK_SIZE;
    }

    /**
     * Packs runtimeDir behind the unpacker (talve-unpack built for the
     * runtime's system) into output, replacing it whole or leaving it as it was.
     */
    public static Result write(Path runtimeDir, byte[] unpacker, String unpackerName, Path output) throws PackException {
        return write(runtimeDir, unpacker, unpackerName, output, Compression.zstd());
    }

    public static Result write(Path runtimeDir, byte[] unpacker, String unpackerName, Path output, Compression compression)
            throws PackException {
        RuntimeTree tree = RuntimeTree.collect(runtimeDir);
        if (unpacker.length == 0) throw new PackException("unpacker " + unpackerName + " is empty");
        if (unpacker.length > MAX_STUB_SIZE) throw new PackException("unpacker " + unpackerName + " is too large");
        if (isInside(output, runtimeDir)) {
            throw new PackException("output " + output + " lies inside the runtime folder it would carry");
        }
        checkStubMatches(unpacker, unpackerName, tree.windowsRuntime);
        try (OutputFile out = OutputFile.open(output)) {
            long unpackedBytes = writeArchive(out.channel(), tree, unpacker, output, compression);
            out.commit();
            return new Result(output, unpackedBytes, tree.windowsRuntime);
        }
    }

    public static Result write(Path runtimeDir, Path unpacker, Path output) throws PackException {
        return write(runtimeDir, unpacker, output, Compression.zstd());
    }

    public static Result write(Path runtimeDir, Path unpacker, Path output, Compression compression) throws PackException {
        if (!Files.isRegularFile(unpacker)) {
            throw new PackException("unpacker " + unpacker + " does not exist or is not a file");
        }
        if (Files.exists(output) && sameFile(unpacker, output)) {
            throw new PackException("output " + output + " is the unpacker itself");
        }
        return write(runtimeDir, InputFiles.read(unpacker, MAX_STUB_SIZE), unpacker.toString(), output, compression);
    }

    private static boolean sameFile(Path a, Path b) {
        try {
            return Files.isSameFile(a, b);
        } catch (IOException e) {
            return false;
        }
    }

    private static boolean isInside(Path path, Path folder) {
        Path absolute = path.toAbsolutePath().normalize();
        try {
            Path parent = absolute.getParent();
            if (parent != null && Files.isDirectory(parent)) absolute = parent.toRealPath().resolve(absolute.getFileName());
            Path root = folder.toRealPath();
            return absolute.startsWith(root) && !absolute.equals(root);
        } catch (IOException e) {
            return false;
        }
    }

    // A runtime for one system unpacked by a program built for another would only fail on the user's machine.
    private static void checkStubMatches(byte[] stub, String name, boolean windowsRuntime) throws PackException {
        boolean windowsStub = stub.length >= 2 && stub[0] == 'M' && stub[1] == 'Z';
        boolean linuxStub = stub.length >= 4 && stub[0] == 0x7f && stub[1] == 'E' && stub[2] == 'L' && stub[3] == 'F';
        if (windowsRuntime && linuxStub) {
            throw new PackException("unpacker " + name + " is a Linux program but the runtime is for Windows (bin/java.exe); "
                    + "give the Windows talve-unpack.exe");
        }
        if (!windowsRuntime && windowsStub) {
            throw new PackException("unpacker " + name + " is a Windows program but the runtime has no bin/java.exe; "
                    + "give the talve-unpack built for the runtime's system");
        }
    }

    private static long writeArchive(FileChannel channel, RuntimeTree tree, byte[] unpacker, Path output,
                                     Compression compression) throws PackException {
        try {
            writeFully(channel, unpacker);
            long archiveOffset = unpacker.length;
            writeFully(channel, encodeHeader(tree.entries.size(), 0));
            long unpackedBytes = BLOCK_SIZE; // the "_jvm" folder itself
            for (RuntimeTree.Entry entry : tree.entries) {
                unpackedBytes += diskUsageOf(entry.type, writeEntry(channel, entry, compression));
            }
            long end = channel.position();
            channel.write(ByteBuffer.wrap(encodeHeader(tree.entries.size(), unpackedBytes)), archiveOffset);
            byte[] trailer = new byte[TRAILER_SIZE];
            LittleEndian.put(trailer, 0, archiveOffset, 8);
            LittleEndian.put(trailer, 8, end - archiveOffset, 8);
            System.arraycopy(TRAILER_MAGIC, 0, trailer, 16, TRAILER_MAGIC.length);
            writeFully(channel, trailer);
            return unpackedBytes;
        } catch (IOException e) {
            throw new PackException("cannot write " + output + ": " + e.getMessage(), e);
        }
    }

    /** Writes one entry and returns its original size. */
    private static long writeEntry(FileChannel channel, RuntimeTree.Entry entry, Compression compression)
            throws IOException, PackException {
        byte[] path = entry.archivePath.getBytes(StandardCharsets.UTF_8);
        if (entry.type == RuntimeTree.Type.DIRECTORY) {
            writeFully(channel, encodeEntryHeader(entry.type, 0, path, 0, 0, 0));
            return 0;
        }
        if (entry.type == RuntimeTree.Type.SYMLINK) {
            byte[] target = entry.linkTarget.getBytes(StandardCharsets.UTF_8);
            writeFully(channel, encodeEntryHeader(entry.type, 0, path, crcOf(target), target.length, target.length));
            writeFully(channel, target);
            return 0;
        }
        int flags = (entry.executable ? FLAG_EXECUTABLE : 0) | compression.codec << CODEC_SHIFT;
        long headerAt = channel.position();
        // The sizes and checksum are known once the data is written.
        writeFully(channel, encodeEntryHeader(entry.type, flags, path, 0, 0, 0));
        long[] sizes = new long[2];
        long crc;
        if (entry.content != null) {
            InputStream in = new java.io.ByteArrayInputStream(entry.content);
            crc = compression.codec == Compression.ZSTD ? zstdFrames(in, entry.content.length, compression.level, channel, sizes)
                    : deflate(in, channel, sizes);
        } else {
            try (InputStream in = Files.newInputStream(entry.source)) {
                crc = compression.codec == Compression.ZSTD
                        ? zstdFrames(in, Files.size(entry.source), compression.level, channel, sizes)
                        : deflate(in, channel, sizes);
            } catch (SizeChanged e) {
                throw new PackException(entry.source + " changed while it was packed");
            } catch (ReadFailure e) {
                throw new PackException("cannot read " + entry.source + ": " + e.getCause().getMessage(), e.getCause());
            } catch (IOException e) {
                throw new PackException("cannot read " + entry.source + ": " + e.getMessage(), e);
            }
        }
        channel.write(ByteBuffer.wrap(encodeEntryHeader(entry.type, flags, path, crc, sizes[0], sizes[1])), headerAt);
        return sizes[0];
    }

    /** A read error, told apart from a write error on the way out. */
    private static final class ReadFailure extends IOException {
        private static final long serialVersionUID = 1L;

        ReadFailure(IOException cause) {
            super(cause);
        }
    }

    /** The input held more or fewer bytes than its size said. */
    private static final class SizeChanged extends IOException {
        private static final long serialVersionUID = 1L;
    }

    /**
     * The frames of a zstd entry: the list of all frame sizes but the last,
     * then every ZSTD_FRAME_SIZE piece compressed on its own, with the
     * compressor pinned as talve-pack pins it (no checksum, content size in
     * the frame, one thread). sizes gets the original and stored byte
     * counts; returns the CRC-32.
     */
    private static long zstdFrames(InputStream in, long size, int level, FileChannel out, long[] sizes) throws IOException {
        long frames = size == 0 ? 1 : (size - 1) / ZSTD_FRAME_SIZE + 1;
        long listAt = out.position();
        byte[] list = new byte[(int) ((frames - 1) * 4)];
        writeFully(out, list);
        CRC32 crc = new CRC32();
        byte[] input = new byte[(int) Math.min(size, ZSTD_FRAME_SIZE)];
        try (ZstdCompressCtx context = new ZstdCompressCtx()) {
            context.setLevel(level);
            context.setChecksum(false);
            context.setContentSize(true);
            context.setWorkers(0);
            byte[] output = new byte[(int) com.github.luben.zstd.Zstd.compressBound(input.length)];
            for (long frame = 0; frame < frames; ++frame) {
                int want = (int) Math.min(size - frame * ZSTD_FRAME_SIZE, ZSTD_FRAME_SIZE);
                int got = readBlock(in, input, want);
                if (got != want) throw new SizeChanged();
                int stored = context.compressByteArray(output, 0, output.length, input, 0, want);
                writeFully(out, output, stored);
                if (frame + 1 < frames) LittleEndian.put(list, (int) (frame * 4), stored, 4);
                crc.update(input, 0, want);
                sizes[1] += stored;
            }
        }
        if (readBlock(in, new byte[1], 1) != 0) throw new SizeChanged();
        sizes[0] = size;
        sizes[1] += list.length;
        if (list.length > 0) out.write(ByteBuffer.wrap(list), listAt);
        return crc.getValue();
    }

    /** One zlib stream of everything in; sizes gets the original and stored byte counts; returns the CRC-32. */
    private static long deflate(InputStream in, FileChannel out, long[] sizes) throws IOException {
        Deflater deflater = new Deflater(COMPRESSION_LEVEL, false);
        CRC32 crc = new CRC32();
        byte[] input = new byte[BUFFER_SIZE];
        byte[] output = new byte[BUFFER_SIZE];
        try {
            boolean last = false;
            while (!last) {
                int got = readBlock(in, input);
                last = got < input.length;
                sizes[0] += got;
                crc.update(input, 0, got);
                deflater.setInput(input, 0, got);
                if (last) deflater.finish();
                while (last ? !deflater.finished() : !deflater.needsInput()) {
                    int produced = deflater.deflate(output, 0, output.length, Deflater.NO_FLUSH);
                    out.write(ByteBuffer.wrap(output, 0, produced));
                    sizes[1] += produced;
                }
            }
        } finally {
            deflater.end();
        }
        return crc.getValue();
    }

    // A full block, or less only at the end of the input.
    private static int readBlock(InputStream in, byte[] block) throws ReadFailure {
        return readBlock(in, block, block.length);
    }

    private static int readBlock(InputStream in, byte[] block, int length) throws ReadFailure {
        int got = 0;
        try {
            while (got < length) {
                int n = in.read(block, got, length - got);
                if (n < 0) break;
                got += n;
            }
        } catch (IOException e) {
            throw new ReadFailure(e);
        }
        return got;
    }

    private static void writeFully(FileChannel channel, byte[] bytes) throws IOException {
        writeFully(channel, bytes, bytes.length);
    }

    private static void writeFully(FileChannel channel, byte[] bytes, int length) throws IOException {
        ByteBuffer buffer = ByteBuffer.wrap(bytes, 0, length);
        while (buffer.hasRemaining()) channel.write(buffer);
    }

    private static long crcOf(byte[] bytes) {
        CRC32 crc = new CRC32();
        crc.update(bytes, 0, bytes.length);
        return crc.getValue();
    }

    static byte[] encodeHeader(int entryCount, long unpackedBytes) {
        byte[] header = new byte[HEADER_SIZE];
        System.arraycopy(HEADER_MAGIC, 0, header, 0, HEADER_MAGIC.length);
        LittleEndian.put(header, 8, FORMAT_VERSION, 4);
        LittleEndian.put(header, 12, entryCount, 4);
        LittleEndian.put(header, 16, unpackedBytes, 8);
        CRC32 crc = new CRC32();
        crc.update(header, 0, 24);
        LittleEndian.put(header, 24, crc.getValue(), 4);
        return header;
    }

    private static byte[] encodeEntryHeader(RuntimeTree.Type type, int flags, byte[] path, long dataCrc,
                                            long originalSize, long storedSize) {
        byte[] header = new byte[28 + path.length];
        header[0] = (byte) type.code;
        header[1] = (byte) flags;
        LittleEndian.put(header, 2, path.length, 2);
        LittleEndian.put(header, 4, dataCrc, 4);
        LittleEndian.put(header, 8, originalSize, 8);
        LittleEndian.put(header, 16, storedSize, 8);
        System.arraycopy(path, 0, header, 28, path.length);
        CRC32 crc = new CRC32();
        crc.update(header, 0, 24);
        crc.update(path, 0, path.length);
        LittleEndian.put(header, 24, crc.getValue(), 4);
        return header;
    }

    /**
     * The disk space a packed runtime says it needs once unpacked, read from
     * its archive header; a PackException says why the file is no packed runtime.
     */
    public static long unpackedSizeOf(Path packed) throws PackException {
        try (FileChannel channel = FileChannel.open(packed)) {
            long size = channel.size();
            if (size < TRAILER_SIZE + HEADER_SIZE) throw new PackException("too short to carry an archive");
            byte[] trailer = readAt(channel, size - TRAILER_SIZE, TRAILER_SIZE);
            for (int i = 0; i < TRAILER_MAGIC.length; ++i) {
                if (trailer[16 + i] != TRAILER_MAGIC[i]) {
                    throw new PackException("no runtime archive at the end of the file (truncated, or not a packed runtime)");
                }
            }
            long archiveOffset = LittleEndian.get(trailer, 0, 8);
            if (archiveOffset < 0 || archiveOffset > size - TRAILER_SIZE - HEADER_SIZE) {
                throw new PackException("its archive header lies beyond the end of the file");
            }
            byte[] header = readAt(channel, archiveOffset, HEADER_SIZE);
            for (int i = 0; i < HEADER_MAGIC.length; ++i) {
                if (header[i] != HEADER_MAGIC[i]) throw new PackException("archive header has a bad magic number");
            }
            CRC32 crc = new CRC32();
            crc.update(header, 0, 24);
            if (LittleEndian.get(header, 24, 4) != crc.getValue()) throw new PackException("archive header checksum mismatch");
            long version = LittleEndian.get(header, 8, 4);
            if (version < OLDEST_FORMAT_VERSION || version > FORMAT_VERSION) {
                throw new PackException("archive version " + version + " is not supported (this packer reads versions "
                        + OLDEST_FORMAT_VERSION + " to " + FORMAT_VERSION + ")");
            }
            return LittleEndian.get(header, 16, 8);
        } catch (IOException e) {
            throw new PackException("cannot be read: " + e.getMessage(), e);
        }
    }

    private static byte[] readAt(FileChannel channel, long offset, int length) throws IOException {
        ByteBuffer buffer = ByteBuffer.allocate(length);
        while (buffer.hasRemaining()) {
            if (channel.read(buffer, offset + buffer.position()) < 0) throw new IOException("unexpected end of file");
        }
        return buffer.array();
    }
}
