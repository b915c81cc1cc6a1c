#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>

namespace talve {
namespace archive {

struct DeflateResult {
    std::uint64_t originalSize = 0;
    std::uint64_t storedSize = 0;
    std::uint32_t crc = 0;
};

// Compresses everything `in` holds into one zlib stream on `out`. A failed
// read or write returns false; the caller names the file.
bool deflateStream(std::istream& in, std::FILE* out, DeflateResult& result, bool& readFailed);

} // namespace archive
} // namespace talve
