#include "packed_runtime_size.h"

#include "archive_format.h"

namespace talve {

std::optional<std::uint64_t> unpackedSizeOfPackedRuntime(const std::string& packed, std::string& error) {
    using namespace archive;
    if (packed.size() < kTrailerSize + kHeaderSize) {
        error = "too short to carry an archive";
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(packed.data());
    Trailer trailer;
    if (!decodeTrailer(bytes + packed.size() - kTrailerSize, trailer, error)) return std::nullopt;
    if (trailer.archiveOffset > packed.size() - kTrailerSize - kHeaderSize) {
        error = "its archive header lies beyond the end of the file";
        return std::nullopt;
    }
    Header header;
    if (!decodeHeader(bytes + trailer.archiveOffset, header, error)) return std::nullopt;
    return header.unpackedBytes;
}

} // namespace talve
