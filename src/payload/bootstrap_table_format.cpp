#include "payload/bootstrap_table_format.h"

#include <cstring>

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

// Reading block after block finds the same 1,024-byte boundaries as seeking
// to each of them, without a seek per kilobyte of launcher.
std::optional<std::uint64_t> findMarker(std::FILE* file) {
    const std::string marker = buildMarker();
    char block[alignment];
    for (std::uint64_t offset = 0;; offset += sizeof block) {
        std::size_t got = std::fread(block, 1, sizeof block, file);
        if (got < markerSize) return std::nullopt;
        if (std::memcmp(block, marker.data(), markerSize) == 0) return offset;
        if (got < sizeof block) return std::nullopt;
    }
}

bool isPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name)
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 32) return false;
    return true;
}

} // namespace table
} // namespace talve
