#include "archive_reader.h"

#include "entry_path.h"

#include <limits>

namespace talve {
namespace archive {
namespace {

bool readExactly(std::FILE* file, void* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, file) == size;
}

bool readAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size) {
    return seekTo(file, offset) && readExactly(file, buffer, size);
}

std::string entryLabel(std::size_t number, const std::string& path) {
    std::string label = "entry " + std::to_string(number);
    if (!path.empty()) label += " (" + printablePath(path) + ")";
    return label;
}

// The list of frame sizes that starts a zstd file's data; the file is
// positioned at its first byte.
bool readFrameSizes(std::FILE* file, IndexedEntry& entry, const std::string& named, std::string& error) {
    const std::uint64_t frames = zstdFrameCount(entry.header.originalSize);
    const std::uint64_t listBytes = (frames - 1) * 4;
    std::string list(static_cast<std::size_t>(listBytes), '\0');
    if (listBytes > 0 && !readExactly(file, &list[0], list.size())) {
        error = named + ": cannot read its frame sizes";
        return false;
    }
    entry.frameSizes.resize(static_cast<std::size_t>(frames));
    std::uint64_t rest = entry.header.storedSize - listBytes;
    for (std::uint64_t i = 0; i < frames; ++i) {
        std::uint64_t size = rest;
        if (i + 1 < frames) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(list.data()) + 4 * i;
            size = bytes[0] | std::uint64_t(bytes[1]) << 8 | std::uint64_t(bytes[2]) << 16 |
                   std::uint64_t(bytes[3]) << 24;
        }
        if (size == 0 || size > kMaxZstdFrameStoredSize || size > rest || (i + 1 < frames && size == rest)) {
            error = named + ": compressed frame " + std::to_string(i + 1) + " has an impossible size";
            return false;
        }
        entry.frameSizes[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(size);
        rest -= size;
    }
    entry.firstFrameOffset = entry.dataOffset + listBytes;
    return true;
}

// Reads one entry starting at `offset`, bounded by `end`, and advances
// `offset` past its data.
bool readEntry(std::FILE* file, std::uint64_t& offset, std::uint64_t end,
               std::size_t number, IndexedEntry& entry, std::string& error) {
    const std::string label = entryLabel(number, "");
    if (end - offset < kEntryFixedSize) {
        error = label + ": header runs past the end of the archive";
        return false;
    }
    unsigned char fixed[kEntryFixedSize];
    if (!readAt(file, offset, fixed, sizeof fixed)) {
        error = label + ": cannot read its header";
        return false;
    }
    std::size_t pathLength = 0;
    std::string problem;
    if (!decodeEntryFixed(fixed, entry.header, pathLength, problem)) {
        error = label + ": " + problem;
        return false;
    }
    offset += kEntryFixedSize;
    if (end - offset < pathLength) {
        error = label + ": path runs past the end of the archive";
        return false;
    }
    std::string path(pathLength, '\0');
    if (!readExactly(file, &path[0], pathLength)) {
        error = label + ": cannot read its path";
        return false;
    }
    offset += pathLength;
    if (!checkEntryHeader(fixed, path, entry.header, problem)) {
        error = label + ": " + problem;
        return false;
    }

    const std::string named = entryLabel(number, path);
    if (hasControlCharacter(path)) {
        error = named + ": path holds a control character";
        return false;
    }
    if (!isSafeEntryPath(path)) {
        error = named + ": path would land outside " + kUnpackFolder;
        return false;
    }
    if (end - offset < entry.header.storedSize) {
        error = named + ": data runs past the end of the archive";
        return false;
    }
    entry.dataOffset = offset;
    offset += entry.header.storedSize;
    if (entry.header.type == EntryType::File && entry.header.codec == Codec::Zstd) {
        return readFrameSizes(file, entry, named, error);
    }

    if (entry.header.type == EntryType::Symlink) {
        entry.linkTarget.assign(entry.header.storedSize, '\0');
        if (!readExactly(file, &entry.linkTarget[0], entry.linkTarget.size())) {
            error = named + ": cannot read its link target";
            return false;
        }
        if (crc32Of(entry.linkTarget.data(), entry.linkTarget.size()) != entry.header.dataCrc) {
            error = named + ": data checksum mismatch";
            return false;
        }
        if (hasControlCharacter(entry.linkTarget)) {
            error = named + ": link target holds a control character";
            return false;
        }
        if (!isSafeLinkTarget(path, entry.linkTarget)) {
            error = named + ": link target " + entry.linkTarget + " points outside " +
                    kUnpackFolder;
            return false;
        }
    }
    return true;
}

// The room check before unpacking trusts the header's figure, so the
// entries may not add up to more than it.
bool checkUnpackedSize(const ArchiveIndex& index, std::string& error) {
    std::uint64_t needed = kUnpackFolderUsage;
    for (const IndexedEntry& entry : index.entries) {
        const std::uint64_t usage = diskUsageOf(entry.header.type, entry.header.originalSize);
        needed = usage > std::numeric_limits<std::uint64_t>::max() - needed
                     ? std::numeric_limits<std::uint64_t>::max()
                     : needed + usage;
    }
    if (needed <= index.header.unpackedBytes) return true;
    error = "archive header gives " + std::to_string(index.header.unpackedBytes) +
            " bytes unpacked, but its entries need " + std::to_string(needed);
    return false;
}

} // namespace

bool seekTo(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<long>::max())) return false;
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

bool readArchiveIndex(std::FILE* file, std::uint64_t fileSize, ArchiveIndex& index,
                      std::string& error) {
    index = ArchiveIndex();
    if (fileSize < kTrailerSize) {
        error = "file is too short to carry a runtime archive";
        return false;
    }
    unsigned char trailerBytes[kTrailerSize];
    if (!readAt(file, fileSize - kTrailerSize, trailerBytes, sizeof trailerBytes)) {
        error = "cannot read the archive trailer";
        return false;
    }
    Trailer trailer;
    if (!decodeTrailer(trailerBytes, trailer, error)) return false;

    const std::uint64_t available = fileSize - kTrailerSize;
    if (trailer.archiveOffset > available || trailer.archiveSize != available - trailer.archiveOffset) {
        error = "archive trailer gives offset " + std::to_string(trailer.archiveOffset) +
                " and size " + std::to_string(trailer.archiveSize) + ", which do not fit a file of " +
                std::to_string(fileSize) + " bytes (truncated or damaged)";
        return false;
    }
    if (trailer.archiveSize < kHeaderSize) {
        error = "archive is too short to hold its header";
        return false;
    }
    unsigned char headerBytes[kHeaderSize];
    if (!readAt(file, trailer.archiveOffset, headerBytes, sizeof headerBytes)) {
        error = "cannot read the archive header";
        return false;
    }
    if (!decodeHeader(headerBytes, index.header, error)) return false;

    std::uint64_t offset = trailer.archiveOffset + kHeaderSize;
    const std::uint64_t end = trailer.archiveOffset + trailer.archiveSize;
    if (index.header.entryCount > (end - offset) / kEntryFixedSize) {
        error = "archive claims " + std::to_string(index.header.entryCount) +
                " entries, more than its " + std::to_string(trailer.archiveSize) +
                " bytes can hold";
        return false;
    }
    index.entries.resize(index.header.entryCount);
    for (std::size_t i = 0; i < index.entries.size(); ++i) {
        if (!readEntry(file, offset, end, i + 1, index.entries[i], error)) return false;
    }
    if (offset != end) {
        error = "archive holds " + std::to_string(end - offset) +
                " unexpected bytes after its last entry";
        return false;
    }
    return checkUnpackedSize(index, error);
}

} // namespace archive
} // namespace talve
