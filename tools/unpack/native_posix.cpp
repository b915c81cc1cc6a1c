#include "native.h"

#include <system_error>

namespace talve {
namespace unpack {

std::filesystem::path ownExecutablePath() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

} // namespace unpack
} // namespace talve
