#pragma once

#include "archive_format.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace talve {
namespace archive {

struct IndexedEntry {
    EntryHeader header;
    std::uint64_t dataOffset = 0; // file offset of the stored data
    std::string linkTarget;       // links only
    // zstd files: the stored size of every frame, in order; the first frame
    // starts at firstFrameOffset.
    std::vector<std::uint32_t> frameSizes;
    std::uint64_t firstFrameOffset = 0;
};

struct ArchiveIndex {
    Header header;
    std::vector<IndexedEntry> entries;
};

// Walks the whole archive at the end of `file` (of `fileSize` bytes) before
// anything is unpacked: trailer, header, every entry header with its bounds
// and checksum, every path and link target. File data is only located here;
// its checksum is verified as it is inflated. On failure `error` names the
// first fault, with the entry number and path where there is one.
bool readArchiveIndex(std::FILE* file, std::uint64_t fileSize, ArchiveIndex& index,
                      std::string& error);

// Positions `file` at `offset`; fails beyond what the C library can seek.
bool seekTo(std::FILE* file, std::uint64_t offset);

} // namespace archive
} // namespace talve
