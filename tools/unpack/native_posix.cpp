#include "native.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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

bool isEmptyDirectory(const std::filesystem::path& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return false;
    bool empty = true;
    while (const dirent* item = ::readdir(folder)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    ::closedir(folder);
    return empty;
}

namespace {
int removeOne(const char* path, const struct stat*, int, struct FTW*) {
    return std::remove(path);
}
} // namespace

bool removeTree(const std::filesystem::path& path) {
    // Depth first, and links are not followed (FTW_PHYS).
    constexpr int kOpenFolders = 16;
    return ::nftw(path.c_str(), removeOne, kOpenFolders, FTW_DEPTH | FTW_PHYS) == 0;
}

} // namespace unpack
} // namespace talve
