#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace talve {
namespace unpack {

// The only operations that differ between systems; native_posix.cpp or
// native_win32.cpp is chosen by CMake. Paths are UTF-8 throughout and are
// widened only at the system call on Windows, so names outside the ANSI code
// page work there too. Every failure leaves its reason in errno, on Windows
// too, so that std::strerror can word it.

// The separator this system writes between path components.
extern const char kPathSeparator;

// The path of the running executable, empty when the system cannot say.
std::string ownExecutablePath();

// The path made absolute against the current directory, for messages; the
// path itself when the system cannot say.
std::string absolutePath(const std::string& path);

std::FILE* openFile(const std::string& path, const char* mode);
bool fileSize(const std::string& path, std::uint64_t& size);
// Bytes free to this user on the volume holding `path`.
bool availableSpace(const std::string& path, std::uint64_t& available);

// What a name is, the last name never followed when it is a link.
enum class PathKind { Missing, Directory, Link, Other };
PathKind pathKind(const std::string& path);

// Directory operations that never follow a link at the last name: a new
// folder (fails when the name is taken), a rename that does not replace a
// non-empty folder, and removal of an empty one.
bool makeNewDirectory(const std::string& path);
// Creates the folder and any missing parents; an existing folder is fine.
bool makeDirectories(const std::string& path);
bool renameDirectory(const std::string& from, const std::string& to);
bool removeEmptyDirectory(const std::string& path);
// Removes a file or a link (not what it points to).
bool removeFile(const std::string& path);
bool makeSymlink(const std::string& target, const std::string& path);

// Whether `path` is a folder with nothing in it.
bool isEmptyDirectory(const std::string& path);
// Removes a folder with everything in it; links inside are removed
// themselves, never followed.
bool removeTree(const std::string& path);

// A new file open for writing with room for `size` bytes reserved where the
// file system can, so that it is laid out in one piece and a full disk shows
// before the data is inflated; elsewhere it simply grows.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool create(const std::string& path, std::uint64_t size);
    bool write(const void* data, std::size_t size);
    // Writes at `offset` without moving the file position, so that several
    // threads may fill different parts of one file at once.
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size);
    // Adds execute permission wherever read permission is granted, the way
    // a freshly created program honours the umask; nothing to do on Windows.
    bool markExecutable();
    // Delayed write errors, such as a full disk, surface here.
    bool close();

private:
    std::intptr_t handle_ = -1;
};

// Threads, and one lock with one condition, taken from the system itself:
// the C++ library's would more than double the size of the Windows stub.
unsigned processorCount();

// Runs `run(argument)` on a new thread; false when the system refuses one.
bool startThread(void (*run)(void*), void* argument, std::uintptr_t& thread);
void joinThread(std::uintptr_t thread);

class Monitor {
public:
    Monitor();
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    void lock();
    void unlock();
    // Called with the lock held; releases it while waiting. May return
    // without a notification: callers test their condition in a loop.
    void wait();
    void notifyAll();

private:
    struct State;
    State* state_;
};

class MonitorLock {
public:
    explicit MonitorLock(Monitor& monitor) : monitor_(monitor) { monitor_.lock(); }
    ~MonitorLock() { monitor_.unlock(); }
    MonitorLock(const MonitorLock&) = delete;
    MonitorLock& operator=(const MonitorLock&) = delete;

private:
    Monitor& monitor_;
};

} // namespace unpack
} // namespace talve
