#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talve {

// The disk space a packed runtime made by 'talve-pack runtime' needs once
// unpacked, as its archive header records it; nothing when the bytes are not
// such a runtime (error then says what is wrong).
std::optional<std::uint64_t> unpackedSizeOfPackedRuntime(const std::string& packed, std::string& error);

} // namespace talve
