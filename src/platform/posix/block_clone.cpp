#include "platform/posix/block_clone.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace talve {
namespace posix {

std::uint64_t shareBlocks(int source, off_t from, int destination, std::uint64_t length) {
    // The block of btrfs and of xfs as made by default; a file system with
    // larger blocks refuses the offsets and the plain copy takes over.
    constexpr std::uint64_t blockSize = 4096;
    const std::uint64_t whole = length / blockSize * blockSize;
    if (whole == 0 || from % blockSize != 0) return 0;
    const off_t at = ::lseek(destination, 0, SEEK_CUR);
    if (at < 0 || at % blockSize != 0) return 0;
    file_clone_range range{};
    range.src_fd = source;
    range.src_offset = static_cast<std::uint64_t>(from);
    range.src_length = whole;
    range.dest_offset = static_cast<std::uint64_t>(at);
    if (::ioctl(destination, FICLONERANGE, &range) != 0) return 0;
    // The clone leaves the offset alone; put back where it was, the file
    // still holds the shared blocks and the caller copies them again.
    if (::lseek(destination, at + static_cast<off_t>(whole), SEEK_SET) < 0) {
        ::lseek(destination, at, SEEK_SET);
        return 0;
    }
    return whole;
}

} // namespace posix
} // namespace talve
