#pragma once

// THE ONE DEFINITION of the archive appended to a packed Java runtime.
// The reader (talve-unpack) and the writer (talve_runtime_archive) both
// encode and decode through this file only; change the layout here, raise
// kFormatVersion, and both sides follow.
//
// A packed runtime is:
//
//   [ unpacker stub, any size ][ archive header ][ entry ]...[ trailer ]
//
// The stub finds the archive from the end of its own file: the trailer is
// the last kTrailerSize bytes and gives where the archive header starts and
// how long the archive (header plus entries) is, so the stub may be any size.
//
// All integers are little-endian, written byte by byte.
//
// trailer (24 bytes)
//   u64 archiveOffset   file offset of the archive header
//   u64 archiveSize     bytes from the header to the end of the last entry
//   8   magic           kTrailerMagic
//
// archive header (32 bytes)
//   8   magic           kHeaderMagic
//   u32 version         kFormatVersion
//   u32 entryCount
//   u64 unpackedBytes   disk space the unpacked tree needs: at least
//                       kUnpackFolderUsage plus diskUsageOf each entry
//   u32 headerCrc       CRC-32 of the 24 bytes above
//   u32 reserved        0
//
// entry: a fixed part (28 bytes), the path, then storedSize bytes of data
//   u8  type            EntryType
//   u8  flags           bit 0 kFlagExecutable (regular files), bits 4-7 the
//                       Codec of a file's data; bits 1-3 are 0
//   u16 pathLength      bytes of the path, 1..kMaxPathLength
//   u32 dataCrc         CRC-32 of the original data (file content, link target)
//   u64 originalSize    bytes once unpacked (link: target length)
//   u64 storedSize      bytes stored (file: see the codecs below; link: the
//                       target itself; directory: 0)
//   u32 entryCrc        CRC-32 of the 24 bytes above followed by the path
//   path                UTF-8, "/" separated, relative to the "_jvm" folder
//
// Directories come before what they hold, so an entry's parents exist or
// are created on the way.
//
// A file's data, by codec:
//   Deflate  one zlib stream of the whole file.
//   Zstd     the file cut into frames of kZstdFrameSize bytes (the last one
//            shorter, an empty file one empty frame), each compressed on its
//            own as one zstd frame so that they unpack side by side. When
//            there are n > 1 frames, n - 1 u32 give the stored sizes of all
//            but the last, then the frames follow in order.
//
// Version 1 archives, written before zstd, have codec 0 everywhere and are
// read as they always were.

#include <cstddef>
#include <cstdint>
#include <string>

namespace talve {
namespace archive {

constexpr char kTrailerMagic[8] = {'T', 'L', 'V', 'R', 'T', 'E', 'N', 'D'};
constexpr char kHeaderMagic[8] = {'T', 'L', 'V', 'R', 'T', 'A', 'R', 'C'};
constexpr std::uint32_t kFormatVersion = 2;
constexpr std::uint32_t kOldestFormatVersion = 1;

constexpr std::size_t kTrailerSize = 24;
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kEntryFixedSize = 28;

constexpr std::size_t kMaxPathLength = 4096;
constexpr std::size_t kMaxLinkTargetLength = 4096;

// The folder the runtime lands in, below the current directory.
constexpr const char* kUnpackFolder = "_jvm";

enum class EntryType : std::uint8_t {
    Directory = 1,
    File = 2,
    Symlink = 3,
};

constexpr std::uint8_t kFlagExecutable = 0x01;

enum class Codec : std::uint8_t {
    Deflate = 0,
    Zstd = 1,
};

// Large enough that a frame compresses about as well as the whole file,
// small enough that the largest file of a runtime keeps every core busy.
constexpr std::uint64_t kZstdFrameSize = std::uint64_t(4) << 20;
// No frame of kZstdFrameSize bytes compresses to more than this
// (ZSTD_COMPRESSBOUND of it); a larger stored size is a forged one.
constexpr std::uint64_t kMaxZstdFrameStoredSize = kZstdFrameSize + (kZstdFrameSize >> 8);

inline std::uint64_t zstdFrameCount(std::uint64_t originalSize) {
    return originalSize == 0 ? 1 : (originalSize - 1) / kZstdFrameSize + 1;
}

struct Trailer {
    std::uint64_t archiveOffset = 0;
    std::uint64_t archiveSize = 0;
};

struct Header {
    std::uint32_t version = kFormatVersion;
    std::uint32_t entryCount = 0;
    std::uint64_t unpackedBytes = 0;
};

struct EntryHeader {
    EntryType type = EntryType::File;
    std::uint8_t flags = 0; // kFlagExecutable; the codec is kept apart
    Codec codec = Codec::Deflate;
    std::uint32_t dataCrc = 0;
    std::uint64_t originalSize = 0;
    std::uint64_t storedSize = 0;
    std::string path;
};

// Disk space is counted in whole blocks: every folder takes one, a file
// its size rounded up, a link none.
constexpr std::uint64_t kBlockSize = 4096;
constexpr std::uint64_t kUnpackFolderUsage = kBlockSize;

inline std::uint64_t diskUsageOf(EntryType type, std::uint64_t originalSize) {
    if (type == EntryType::Directory) return kBlockSize;
    if (type != EntryType::File) return 0;
    return originalSize / kBlockSize * kBlockSize + (originalSize % kBlockSize != 0 ? kBlockSize : 0);
}

std::string encodeTrailer(const Trailer& trailer);
std::string encodeHeader(const Header& header);
std::string encodeEntryHeader(const EntryHeader& entry);

// Decoders take exactly the bytes of their part and report the first field
// found wrong in `error`; they do not check what lies outside those bytes.
bool decodeTrailer(const unsigned char* bytes, Trailer& trailer, std::string& error);
bool decodeHeader(const unsigned char* bytes, Header& header, std::string& error);

// Reads the fixed part of an entry: fills the sizes, type, flags and CRC,
// and returns the path length to read next.
bool decodeEntryFixed(const unsigned char* bytes, EntryHeader& entry,
                      std::size_t& pathLength, std::string& error);
// Checks the entry checksum over the fixed part and the path and, when it
// matches, stores the path in the entry.
bool checkEntryHeader(const unsigned char* fixedBytes, const std::string& path,
                      EntryHeader& entry, std::string& error);

std::uint32_t crc32Of(const void* data, std::size_t size, std::uint32_t crc = 0);

} // namespace archive
} // namespace talve
