#include "packed_runtime_size.h"

#include "archive_format.h"
#include "writer_files.h"

namespace talve {

namespace {

bool readAt(std::FILE* file, std::uint64_t offset, unsigned char* bytes, std::size_t count, std::string& error) {
    if (files::seekFile(file, offset) && std::fread(bytes, 1, count, file) == count) return true;
    error = "read error";
    return false;
}

} // namespace

std::optional<std::uint64_t> unpackedSizeOfPackedRuntime(std::FILE* packed, std::uint64_t size, std::string& error) {
    using namespace archive;
    if (size < kTrailerSize + kHeaderSize) {
        error = "too short to carry an archive";
        return std::nullopt;
    }
    unsigned char trailerBytes[kTrailerSize];
    if (!readAt(packed, size - kTrailerSize, trailerBytes, kTrailerSize, error)) return std::nullopt;
    Trailer trailer;
    if (!decodeTrailer(trailerBytes, trailer, error)) return std::nullopt;
    if (trailer.archiveOffset > size - kTrailerSize - kHeaderSize) {
        error = "its archive header lies beyond the end of the file";
        return std::nullopt;
    }
    unsigned char headerBytes[kHeaderSize];
    if (!readAt(packed, trailer.archiveOffset, headerBytes, kHeaderSize, error)) return std::nullopt;
    Header header;
    if (!decodeHeader(headerBytes, header, error)) return std::nullopt;
    return header.unpackedBytes;
}

} // namespace talve
