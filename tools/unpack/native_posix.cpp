#include "native.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

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

bool makeNewDirectory(const std::filesystem::path& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool renameDirectory(const std::filesystem::path& from, const std::filesystem::path& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool removeEmptyDirectory(const std::filesystem::path& path) {
    return ::rmdir(path.c_str()) == 0;
}

} // namespace unpack
} // namespace talve
