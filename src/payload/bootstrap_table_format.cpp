#include "payload/bootstrap_table_format.h"

#include <cstring>
#include <memory>

namespace talve {
namespace table {

std::string buildMarker() {
    static const unsigned char magic[] = {0xBA, 0xDC, 0x0D, 0xE5};
    static const char text[] = "_BOOTSTRAP_TABLE_MARKER_";
    std::string marker;
    marker.reserve(markerSize);
    marker.append(reinterpret_cast<const char*>(magic), sizeof magic);
    marker.append(text, sizeof text - 1);
    marker.append(reinterpret_cast<const char*>(magic), sizeof magic);
    return marker;
}

// Reading large blocks finds the same 1,024-byte boundaries as seeking to
// each of them, with one read for many kilobytes of launcher.
std::optional<std::uint64_t> findMarker(std::FILE* file) {
    const std::string marker = buildMarker();
    constexpr std::size_t blockSize = 64 * alignment;
    std::unique_ptr<char[]> block(new char[blockSize]);
    for (std::uint64_t offset = 0;; offset += blockSize) {
        const std::size_t got = std::fread(block.get(), 1, blockSize, file);
        for (std::size_t at = 0; at + markerSize <= got; at += alignment)
            if (std::memcmp(block.get() + at, marker.data(), markerSize) == 0) return offset + at;
        if (got < blockSize) return std::nullopt;
    }
}

bool markerAt(std::FILE* file) {
    char candidate[markerSize];
    return std::fread(candidate, 1, markerSize, file) == markerSize &&
           std::memcmp(candidate, buildMarker().data(), markerSize) == 0;
}

bool isPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 32) return false;
    return true;
}

} // namespace table
} // namespace talve
