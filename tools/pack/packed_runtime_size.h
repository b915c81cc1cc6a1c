#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace talve {

// The disk space a packed runtime made by 'talve-pack runtime' needs once
// unpacked, as its archive header records it; nothing when the file of
// `size` bytes is not such a runtime (error then says what is wrong). Only
// the trailer and the header are read.
std::optional<std::uint64_t> unpackedSizeOfPackedRuntime(std::FILE* packed, std::uint64_t size, std::string& error);

} // namespace talve
