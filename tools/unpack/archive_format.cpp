#include "archive_format.h"

#include <zlib.h>

#include <cstring>

namespace talve {
namespace archive {
namespace {

void putU8(std::string& out, std::uint8_t value) {
    out.push_back(static_cast<char>(value));
}

void putU16(std::string& out, std::uint16_t value) {
    for (int i = 0; i < 2; ++i) putU8(out, static_cast<std::uint8_t>(value >> (8 * i)));
}

void putU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) putU8(out, static_cast<std::uint8_t>(value >> (8 * i)));
}

void putU64(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) putU8(out, static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t getLittleEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

std::uint16_t getU16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(getLittleEndian(bytes, 2));
}

std::uint32_t getU32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(getLittleEndian(bytes, 4));
}

std::uint64_t getU64(const unsigned char* bytes) {
    return getLittleEndian(bytes, 8);
}

constexpr std::size_t kHeaderCrcOffset = 24;
constexpr int kCodecShift = 4;
constexpr std::uint8_t kUnknownFlags = 0x0e;
constexpr std::size_t kEntryCrcOffset = 24;

std::string encodeEntryFixedWithoutCrc(const EntryHeader& entry) {
    std::string out;
    putU8(out, static_cast<std::uint8_t>(entry.type));
    putU8(out, static_cast<std::uint8_t>(entry.flags | static_cast<std::uint8_t>(entry.codec) << kCodecShift));
    putU16(out, static_cast<std::uint16_t>(entry.path.size()));
    putU32(out, entry.dataCrc);
    putU64(out, entry.originalSize);
    putU64(out, entry.storedSize);
    return out;
}

std::uint32_t entryCrc(const unsigned char* fixedBytes, const std::string& path) {
    std::uint32_t crc = crc32Of(fixedBytes, kEntryCrcOffset);
    return crc32Of(path.data(), path.size(), crc);
}

bool checkZstdShape(const EntryHeader& entry, std::string& error) {
    // Every frame takes at least one byte and every frame but the last four
    // more in the size list.
    const std::uint64_t frames = zstdFrameCount(entry.originalSize);
    if (frames - 1 > entry.storedSize / 5) {
        error = "file entry stores too little for its " + std::to_string(frames) + " compressed frames";
        return false;
    }
    return true;
}

bool checkEntryShape(const EntryHeader& entry, std::string& error) {
    if (entry.flags & kUnknownFlags) {
        error = "entry has unknown flags " + std::to_string(entry.flags);
        return false;
    }
    if (entry.type != EntryType::File && entry.codec != Codec::Deflate) {
        error = "only file entries are compressed";
        return false;
    }
    switch (entry.type) {
    case EntryType::Directory:
        if (entry.originalSize != 0 || entry.storedSize != 0) {
            error = "directory entry carries data";
            return false;
        }
        return true;
    case EntryType::File:
        if (entry.storedSize == 0) {
            error = "file entry has no compressed data";
            return false;
        }
        if (entry.codec == Codec::Zstd) return checkZstdShape(entry, error);
        if (entry.codec == Codec::Deflate) return true;
        error = "file entry has an unknown codec " + std::to_string(static_cast<unsigned>(entry.codec));
        return false;
    case EntryType::Symlink:
        if (entry.originalSize == 0 || entry.originalSize > kMaxLinkTargetLength ||
            entry.storedSize != entry.originalSize) {
            error = "link entry has an impossible target length";
            return false;
        }
        return true;
    }
    error = "unknown entry type " + std::to_string(static_cast<unsigned>(entry.type));
    return false;
}

} // namespace

std::uint32_t crc32Of(const void* data, std::size_t size, std::uint32_t crc) {
    const auto* bytes = static_cast<const Bytef*>(data);
    // zlib takes a 32-bit length; feed large blocks in pieces.
    while (size > 0) {
        const uInt piece = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
        crc = static_cast<std::uint32_t>(::crc32(crc, bytes, piece));
        bytes += piece;
        size -= piece;
    }
    return crc;
}

std::string encodeTrailer(const Trailer& trailer) {
    std::string out;
    putU64(out, trailer.archiveOffset);
    putU64(out, trailer.archiveSize);
    out.append(kTrailerMagic, sizeof kTrailerMagic);
    return out;
}

std::string encodeHeader(const Header& header) {
    std::string out(kHeaderMagic, sizeof kHeaderMagic);
    putU32(out, header.version);
    putU32(out, header.entryCount);
    putU64(out, header.unpackedBytes);
    putU32(out, crc32Of(out.data(), out.size()));
    putU32(out, 0);
    return out;
}

std::string encodeEntryHeader(const EntryHeader& entry) {
    std::string out = encodeEntryFixedWithoutCrc(entry);
    putU32(out, entryCrc(reinterpret_cast<const unsigned char*>(out.data()), entry.path));
    return out + entry.path;
}

bool decodeTrailer(const unsigned char* bytes, Trailer& trailer, std::string& error) {
    if (std::memcmp(bytes + 16, kTrailerMagic, sizeof kTrailerMagic) != 0) {
        error = "no runtime archive at the end of the file (truncated, or not a packed runtime)";
        return false;
    }
    trailer.archiveOffset = getU64(bytes);
    trailer.archiveSize = getU64(bytes + 8);
    return true;
}

bool decodeHeader(const unsigned char* bytes, Header& header, std::string& error) {
    if (std::memcmp(bytes, kHeaderMagic, sizeof kHeaderMagic) != 0) {
        error = "archive header has a bad magic number";
        return false;
    }
    if (getU32(bytes + kHeaderCrcOffset) != crc32Of(bytes, kHeaderCrcOffset)) {
        error = "archive header checksum mismatch";
        return false;
    }
    header.version = getU32(bytes + 8);
    if (header.version < kOldestFormatVersion || header.version > kFormatVersion) {
        error = "archive version " + std::to_string(header.version) +
                " is not supported (this unpacker reads versions " + std::to_string(kOldestFormatVersion) +
                " to " + std::to_string(kFormatVersion) + ")";
        return false;
    }
    header.entryCount = getU32(bytes + 12);
    header.unpackedBytes = getU64(bytes + 16);
    return true;
}

bool decodeEntryFixed(const unsigned char* bytes, EntryHeader& entry,
                      std::size_t& pathLength, std::string& error) {
    entry.type = static_cast<EntryType>(bytes[0]);
    entry.flags = bytes[1] & ((1u << kCodecShift) - 1);
    entry.codec = static_cast<Codec>(bytes[1] >> kCodecShift);
    pathLength = getU16(bytes + 2);
    entry.dataCrc = getU32(bytes + 4);
    entry.originalSize = getU64(bytes + 8);
    entry.storedSize = getU64(bytes + 16);
    if (pathLength == 0 || pathLength > kMaxPathLength) {
        error = "entry has an impossible path length " + std::to_string(pathLength);
        return false;
    }
    return true;
}

bool checkEntryHeader(const unsigned char* fixedBytes, const std::string& path,
                      EntryHeader& entry, std::string& error) {
    if (getU32(fixedBytes + kEntryCrcOffset) != entryCrc(fixedBytes, path)) {
        error = "entry header checksum mismatch";
        return false;
    }
    if (!checkEntryShape(entry, error)) return false;
    entry.path = path;
    return true;
}

} // namespace archive
} // namespace talve
