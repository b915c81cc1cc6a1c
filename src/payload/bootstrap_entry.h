#pragma once

#include <cstdint>
#include <string>

namespace talve {

// One row of the bootstrap table. Texts are held terminated even when the
// file fills their field completely.
struct BootstrapEntry {
    std::string id;
    std::uint32_t position = 0;
    std::uint32_t length = 0;
    std::uint32_t diskspace = 0;
    std::string filename;
    std::string data1;
    std::string data2;

    // An absent row is all zero; a present payload never starts at offset 0.
    bool present() const { return position != 0; }
};

// Megabytes as the space checks count them: whole MiB, rounded down, plus
// one for each payload. Kept in 64 bits so that payloads beyond 2 GiB do
// not wrap into negative sizes.
inline std::int64_t megabytesOf(std::uint64_t bytes) { return static_cast<std::int64_t>(bytes >> 20); }

} // namespace talve
