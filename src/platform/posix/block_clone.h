#pragma once

#include <cstdint>
#include <sys/types.h>

namespace talve {
namespace posix {

// Lets `destination` share the file system's blocks with `source`: the
// whole blocks of `length` bytes from `from` on land at the destination's
// current offset, which moves past them. Returns how many bytes are shared,
// 0 where the file system shares no blocks (ext4, tmpfs, across file
// systems) or an offset falls inside a block; the caller copies the rest.
std::uint64_t shareBlocks(int source, off_t from, int destination, std::uint64_t length);

} // namespace posix
} // namespace talve
