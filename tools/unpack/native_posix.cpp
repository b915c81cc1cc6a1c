#include "native.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace talve {
namespace unpack {

const char kPathSeparator = '/';

std::string ownExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", &buffer[0], buffer.size());
        if (length < 0) return std::string();
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        // Cut to fit: grow and ask again.
        buffer.resize(buffer.size() * 2);
    }
}

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* current = ::getcwd(nullptr, 0);
    if (current == nullptr) return path;
    std::string result = std::string(current) + "/" + path;
    std::free(current);
    return result;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool fileSize(const std::string& path, std::uint64_t& size) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return false;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool availableSpace(const std::string& path, std::uint64_t& available) {
    struct statvfs info;
    if (::statvfs(path.c_str(), &info) != 0) return false;
    available = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

PathKind pathKind(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    if (S_ISLNK(info.st_mode)) return PathKind::Link;
    return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::Other;
}

bool makeNewDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

namespace {
bool isDirectory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
} // namespace

bool makeDirectories(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    if (errno == EEXIST) {
        if (isDirectory(path)) return true;
        errno = ENOTDIR;
        return false;
    }
    const std::string::size_type cut = path.find_last_of('/');
    if (errno != ENOENT || cut == std::string::npos || cut == 0) return false;
    if (!makeDirectories(path.substr(0, cut))) return false;
    return ::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && isDirectory(path));
}

bool renameDirectory(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool removeEmptyDirectory(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool makeSymlink(const std::string& target, const std::string& path) {
    return ::symlink(target.c_str(), path.c_str()) == 0;
}

bool isEmptyDirectory(const std::string& path) {
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

bool removeTree(const std::string& path) {
    // Depth first, and links are not followed (FTW_PHYS).
    constexpr int kOpenFolders = 16;
    return ::nftw(path.c_str(), removeOne, kOpenFolders, FTW_DEPTH | FTW_PHYS) == 0;
}

OutputFile::~OutputFile() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool OutputFile::create(const std::string& path, std::uint64_t size) {
    // A new name only: whatever was there has been removed, and a link
    // planted since is neither followed nor replaced.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    handle_ = fd;
    // Not posix_fallocate: where the file system cannot reserve, the C
    // library would emulate it by writing every block twice.
    if (size > 0) {
        const int saved = errno;
        if (::fallocate(fd, 0, 0, static_cast<off_t>(size)) != 0) errno = saved;
    }
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(static_cast<int>(handle_), next, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(static_cast<int>(handle_), next, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += written;
        offset += static_cast<std::uint64_t>(written);
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::markExecutable() {
    struct stat info;
    const int fd = static_cast<int>(handle_);
    if (::fstat(fd, &info) != 0) return false;
    mode_t mode = info.st_mode & 07777;
    mode |= S_IXUSR;
    if ((mode & S_IRGRP) != 0) mode |= S_IXGRP;
    if ((mode & S_IROTH) != 0) mode |= S_IXOTH;
    return ::fchmod(fd, mode) == 0;
}

bool OutputFile::close() {
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    return ::close(fd) == 0;
}

unsigned processorCount() {
    // The processors this process may run on (taskset, a container's
    // limit), not all the machine has.
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    }
    const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1;
}

namespace {
struct ThreadStart {
    void (*run)(void*);
    void* argument;
};

void* threadMain(void* start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    copy.run(copy.argument);
    return nullptr;
}
} // namespace

bool startThread(void (*run)(void*), void* argument, std::uintptr_t& thread) {
    auto* start = new ThreadStart{run, argument};
    pthread_t id;
    if (::pthread_create(&id, nullptr, threadMain, start) != 0) {
        delete start;
        return false;
    }
    thread = static_cast<std::uintptr_t>(id);
    return true;
}

void joinThread(std::uintptr_t thread) {
    ::pthread_join(static_cast<pthread_t>(thread), nullptr);
}

struct Monitor::State {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
};

Monitor::Monitor() : state_(new State) {}
Monitor::~Monitor() {
    ::pthread_cond_destroy(&state_->condition);
    ::pthread_mutex_destroy(&state_->mutex);
    delete state_;
}
void Monitor::lock() { ::pthread_mutex_lock(&state_->mutex); }
void Monitor::unlock() { ::pthread_mutex_unlock(&state_->mutex); }
void Monitor::wait() { ::pthread_cond_wait(&state_->condition, &state_->mutex); }
void Monitor::notifyAll() { ::pthread_cond_broadcast(&state_->condition); }

} // namespace unpack
} // namespace talve
