#pragma once

#include <windows.h>

#include <cstdint>

namespace talve {
namespace win32 {

// Lets `destination` share the volume's clusters with `source` where the
// file system offers block cloning (ReFS): the whole clusters of `length`
// bytes from `from` on land at the destination's file pointer, which moves
// past them. Returns how many bytes are shared, 0 elsewhere or when an
// offset falls inside a cluster; the caller copies the rest.
std::uint64_t shareBlocks(HANDLE source, std::uint64_t from, HANDLE destination, std::uint64_t length);

} // namespace win32
} // namespace talve
