#include "writer_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace talve {
namespace files {

std::FILE* createNewFile(const std::filesystem::path& path, bool& exists, std::string& problem) {
    // Every output of talve-pack is a program: the umask decides who may run it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0777);
    exists = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        problem = std::strerror(errno);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        problem = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

bool replaceFile(const std::filesystem::path& source, const std::filesystem::path& target, std::string& problem) {
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
    problem = std::strerror(errno);
    return false;
}

std::FILE* openRegularFile(const std::filesystem::path& path, std::uint64_t& size, std::string& problem) {
    // Without O_NONBLOCK, opening a pipe nobody writes to waits for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return nullptr;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        problem = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = S_ISDIR(info.st_mode) ? "is a folder, not a file" : "is not a regular file (a device or a pipe?)";
        ::close(fd);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        problem = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

bool seekFile(std::FILE* file, std::uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool tellFile(std::FILE* file, std::uint64_t& offset) {
    const off_t position = ::ftello(file);
    if (position < 0) return false;
    offset = static_cast<std::uint64_t>(position);
    return true;
}

} // namespace files
} // namespace talve
