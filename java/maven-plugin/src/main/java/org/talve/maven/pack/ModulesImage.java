package org.talve.maven.pack;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;

/**
 * Whether a runtime's lib/modules (the image jlink writes) holds compressed
 * resources, as "jlink --compress" leaves them. The image's index says so
 * for every resource: its location carries a compressed size besides the
 * uncompressed one. A compressed image packs far worse, since the packer's
 * own compression then finds little to take.
 */
public final class ModulesImage {
    public enum Compression { NONE, COMPRESSED, UNKNOWN }

    private static final int MAGIC = 0xCAFEDADA;
    private static final int MAJOR_VERSION = 1;
    private static final int HEADER_SIZE = 7 * 4;
    private static final int ATTRIBUTE_END = 0;
    private static final int ATTRIBUTE_COMPRESSED = 6;
    private static final int ATTRIBUTE_COUNT = 8;
    // The index of a full JDK's image is a few MiB: anything far above is no index.
    private static final long INDEX_LIMIT = 256L << 20;

    private ModulesImage() {
    }

    /** NONE or COMPRESSED for an image this reader knows; UNKNOWN for anything else (a missing or foreign file). */
    public static Compression of(Path modules) {
        if (!Files.isRegularFile(modules)) return Compression.UNKNOWN;
        try (FileChannel channel = FileChannel.open(modules, StandardOpenOption.READ)) {
            ByteBuffer header = read(channel, 0, HEADER_SIZE);
            if (header == null) return Compression.UNKNOWN;
            // jlink writes the image in the byte order of the system it makes the runtime for.
            header.order(ByteOrder.LITTLE_ENDIAN);
            if (header.getInt(0) != MAGIC) header.order(ByteOrder.BIG_ENDIAN);
            if (header.getInt(0) != MAGIC || header.getInt(4) >>> 16 != MAJOR_VERSION) return Compression.UNKNOWN;
            long tableLength = header.getInt(16) & 0xffffffffL;
            long locationsSize = header.getInt(20) & 0xffffffffL;
            long indexSize = HEADER_SIZE + tableLength * 8 + locationsSize;
            if (indexSize > INDEX_LIMIT || indexSize > channel.size()) return Compression.UNKNOWN;
            ByteBuffer index = read(channel, 0, (int) indexSize);
            if (index == null) return Compression.UNKNOWN;
            index.order(header.order());
            int offsets = HEADER_SIZE + (int) tableLength * 4;
            int locations = offsets + (int) tableLength * 4;
            for (int i = 0; i < tableLength; ++i) {
                long offset = index.getInt(offsets + i * 4) & 0xffffffffL;
                if (offset >= locationsSize) return Compression.UNKNOWN;
                long compressed = attribute(index, locations + (int) offset, ATTRIBUTE_COMPRESSED);
                if (compressed < 0) return Compression.UNKNOWN;
                if (compressed > 0) return Compression.COMPRESSED;
            }
            return Compression.NONE;
        } catch (IOException e) {
            return Compression.UNKNOWN;
        }
    }

    private static ByteBuffer read(FileChannel channel, long position, int size) throws IOException {
        ByteBuffer buffer = ByteBuffer.allocate(size);
        while (buffer.hasRemaining()) {
            if (channel.read(buffer, position + buffer.position()) < 0) return null;
        }
        return buffer;
    }

    // A location is a run of attributes ended by a zero byte: each one byte
    // of kind (high five bits) and length less one (low three), then the
    // value in that many bytes, most significant first. -1 when damaged.
    private static long attribute(ByteBuffer index, int start, int wanted) {
        long found = 0;
        int i = start;
        while (i < index.limit()) {
            int data = index.get(i) & 0xff;
            int kind = data >>> 3;
            if (kind == ATTRIBUTE_END) return found;
            if (kind >= ATTRIBUTE_COUNT) return -1;
            int length = (data & 7) + 1;
            if (i + 1 + length > index.limit()) return -1;
            long value = 0;
            for (int b = 0; b < length; ++b) value = value << 8 | (index.get(i + 1 + b) & 0xff);
            if (kind == wanted) found = value;
            i += 1 + length;
        }
        return -1;
    }
}
