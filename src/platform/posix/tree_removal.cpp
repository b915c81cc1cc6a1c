#include "platform/posix/tree_removal.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talve {
namespace posix {

namespace {

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;

class Walk {
public:
    TreeRemoval result;

    void leave(const std::string& path, int error) {
        if (result.entriesLeft++ == 0) result.firstLeft = path + " (" + std::strerror(error) + ")";
    }

    // Empties the directory open at fd, which the walk owns and closes.
    // The stream works on that descriptor itself: one per level, so that a
    // run short of descriptors can still empty a flat directory.
    void empty(int fd, const std::string& path) {
        DIR* stream = fdopendir(fd);
        if (stream == nullptr) {
            leave(path, errno);
            close(fd);
            return;
        }
        while (const dirent* entry = readdir(stream)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            const std::string name = entry->d_name;
            removeEntry(dirfd(stream), path + "/" + name, name);
        }
        closedir(stream);
    }

private:
    // unlinkat never follows a link: whatever is not a directory goes here
    // as it is, a link to a directory included.
    void removeEntry(int parent, const std::string& path, const std::string& name) {
        if (unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT) return;
        if (errno != EISDIR && errno != EPERM) {
            leave(path, errno);
            return;
        }
        int child = openat(parent, name.c_str(), directoryFlags);
        // A directory of the run's own that it may not read or enter: it is
        // this user's, so its rights are widened rather than the tree kept.
        if (child < 0 && errno == EACCES && fchmodat(parent, name.c_str(), S_IRWXU, 0) == 0)
            child = openat(parent, name.c_str(), directoryFlags);
        if (child < 0) {
            if (errno != ENOENT) leave(path, errno);
            return;
        }
        struct stat info;
        if (fstat(child, &info) == 0 && (info.st_mode & S_IRWXU) != S_IRWXU) fchmod(child, info.st_mode | S_IRWXU);
        empty(child, path);
        if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) leave(path, errno);
    }
};

} // namespace

TreeRemoval removeTree(const std::string& dir) {
    Walk walk;
    struct stat info;
    if (lstat(dir.c_str(), &info) != 0) {
        if (errno == ENOENT) walk.result.removed = true;
        else walk.leave(dir, errno);
        return walk.result;
    }
    if (!S_ISDIR(info.st_mode)) {
        // Something else in the directory's place: it goes, nothing behind it.
        if (unlink(dir.c_str()) == 0 || errno == ENOENT) walk.result.removed = true;
        else walk.leave(dir, errno);
        return walk.result;
    }
    const int fd = open(dir.c_str(), directoryFlags);
    if (fd < 0) {
        walk.leave(dir, errno);
        return walk.result;
    }
    walk.empty(fd, dir);
    if (rmdir(dir.c_str()) != 0 && errno != ENOENT) walk.leave(dir, errno);
    walk.result.removed = walk.result.entriesLeft == 0;
    return walk.result;
}

} // namespace posix
} // namespace talve
