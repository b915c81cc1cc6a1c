#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/posix/environment_block.h"
#include "platform/posix/block_clone.h"
#include "platform/posix/path_rights.h"
#include "platform/posix/posix_interruption.h"
#include "platform/posix/posix_processes.h"
#include "platform/posix/tree_removal.h"
#include "platform/posix/console_input.h"
#include "platform/posix/x11_splash_window.h"
#include "platform/splash_window.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace talve {

using posix::spawnAndWait;
using posix::spawnKeepingErrors;

namespace {

// Owner-only, because the run's files hold what the installer is about to
// install and sit in a folder every user can list.
constexpr mode_t privateDirectoryMode = 0700;
constexpr mode_t privateFileMode = 0600;

bool hasCapSysBoot() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return false;
    char line[256];
    bool capable = false;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "CapEff:", 7) != 0) continue;
        unsigned long long effective = std::strtoull(line + 7, nullptr, 16);
        const int capSysBoot = 22;
        capable = (effective >> capSysBoot) & 1u;
        break;
    }
    std::fclose(status);
    return capable;
}

// The file may still grow while it is read: one byte past the limit tells.
FileReadStatus readBounded(int fd, std::size_t limit, std::string& content) {
    char buffer[8192];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return FileReadStatus::failed;
        if (got == 0) return FileReadStatus::ok;
        if (content.size() + static_cast<std::size_t>(got) > limit) return FileReadStatus::tooLarge;
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

// For systems and file systems where the kernel cannot copy between the two
// files itself; large blocks keep the system calls few. The block is no
// larger than the payload and left unfilled: most payloads are small, and
// every byte of it is read into before it is written out.
CopyStatus copyThroughBuffer(int in, off_t from, int out, std::uint64_t remaining) {
    constexpr std::uint64_t largestBlock = 1 << 20;
    const std::size_t blockSize = static_cast<std::size_t>(std::min(remaining, largestBlock));
    std::unique_ptr<char[]> block(new char[blockSize == 0 ? 1 : blockSize]);
    while (remaining > 0) {
        const std::size_t wanted = remaining < blockSize ? static_cast<std::size_t>(remaining) : blockSize;
        ssize_t got = pread(in, block.get(), wanted, from);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return CopyStatus::readFailed;
        for (ssize_t written = 0; written < got;) {
            ssize_t put = write(out, block.get() + written, static_cast<std::size_t>(got - written));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return CopyStatus::writeFailed;
            written += put;
        }
        from += got;
        remaining -= static_cast<std::uint64_t>(got);
    }
    return CopyStatus::copied;
}

// flock rather than fcntl locks: those of fcntl belong to the process, so a
// second lock taken in the same process would pass, and closing any
// descriptor of the file would drop them.
class PosixFileLock final : public FileLock {
public:
    explicit PosixFileLock(int descriptor) : descriptor_(descriptor) {}
    ~PosixFileLock() override { ::close(descriptor_); }

private:
    int descriptor_;
};

class PosixPlatform : public Platform {
public:
    PosixPlatform() {
        conventions_.pathSeparator = "/";
        conventions_.searchPathSeparator = ':';
        conventions_.scriptRunner = "/bin/sh ";
        conventions_.temporaryBaseVariables = {"TEMP", "TMP", "TMPDIR"};
        conventions_.fallbackTemporaryBase = "/tmp";
        // POSIX leaves the meaning of a leading "//" to the system: a network path on some.
        conventions_.networkPathPrefix = "//";
        conventions_.homeVariable = "HOME";
        conventions_.commonRecordDirectoryFallback = "/var/lib/talve/";
    }

    const PlatformConventions& conventions() const override { return conventions_; }

    bool isAbsolutePath(const std::string& path) const override { return path.empty() || path[0] == '/'; }

    std::optional<std::string> currentDirectory() override {
        std::vector<char> buffer(PATH_MAX + 1);
        if (getcwd(buffer.data(), buffer.size()) == nullptr) return std::nullopt;
        return std::string(buffer.data());
    }

    int changeDirectory(const std::string& dir) override { return chdir(dir.c_str()); }

    int createDirectory(const std::string& dir) override { return mkdir(dir.c_str(), privateDirectoryMode); }

    bool enterPrivateDirectory(const std::string& dir) override {
        int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat info;
        bool ours = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
                    (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
        bool entered = ours && fchdir(fd) == 0;
        close(fd);
        return entered;
    }

    std::optional<std::vector<std::string>> listDirectory(const std::string& dir) override {
        DIR* stream = opendir(dir.c_str());
        if (stream == nullptr) return std::nullopt;
        std::vector<std::string> names;
        while (const dirent* entry = readdir(stream)) names.emplace_back(entry->d_name);
        closedir(stream);
        return names;
    }

    TreeRemoval removeTree(const std::string& dir) override { return posix::removeTree(dir); }

    std::optional<std::uint64_t> freeBytesForUser(const std::string& dir) override {
        struct statvfs info;
        if (statvfs(dir.c_str(), &info) != 0) return std::nullopt;
        return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    }

    std::optional<std::string> getEnvironment(const std::string& name) override {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    }

    int putEnvironment(const std::string& assignment) override {
        std::size_t equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) return -1;
        std::string name = assignment.substr(0, equals);
        std::string value = assignment.substr(equals + 1);
        return value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
    }

    int putEnvironmentAll(const std::vector<std::string>& assignments) override {
        return posix::putEnvironmentAll(assignments);
    }

    StartRoom startRoom() override { return posix::startRoom(); }

    std::string executablePath() override {
        std::vector<char> buffer(PATH_MAX + 1);
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
        if (length <= 0) return std::string();
        return std::string(buffer.data(), static_cast<std::size_t>(length));
    }

    ProcessOutcome runProcess(const std::string& commandLine, bool detach, bool discardOutput) override {
        return spawnAndWait(splitCommandLine(commandLine), detach, discardOutput);
    }

    ProcessOutcome runProcessKeepingErrors(const std::string& commandLine, std::size_t limit,
                                           std::string& errorOutput) override {
        return spawnKeepingErrors(splitCommandLine(commandLine), limit, errorOutput);
    }

    ProcessOutcome runProcessWithin(const std::string& commandLine, bool discardOutput,
                                    std::chrono::milliseconds timeLimit) override {
        return spawnAndWait(splitCommandLine(commandLine), false, discardOutput, timeLimit);
    }

    bool consoleOwnedAlone() override {
        // A terminal window or desktop entry that started the launcher makes it
        // the session leader; from a shell the shell leads and keeps the terminal.
        return isatty(STDIN_FILENO) == 1 && getsid(0) == getpid();
    }

    void showConsoleWindow(bool) override {}

    std::FILE* createPrivateFile(const std::string& path) override {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, privateFileMode);
        if (fd < 0) return nullptr;
        fchmod(fd, privateFileMode);
        std::FILE* file = fdopen(fd, "w+b");
        if (file == nullptr) close(fd);
        return file;
    }

    std::FILE* openLogFile(const std::string& path) override {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      privateFileMode);
        if (fd < 0) return nullptr;
        std::FILE* file = fdopen(fd, "a");
        if (file == nullptr) close(fd);
        return file;
    }

    std::FILE* openForReading(const std::string& path) override { return std::fopen(path.c_str(), "rbe"); }

    bool markExecutable(const std::string& path) override { return chmod(path.c_str(), 0700) == 0; }

    bool seek(std::FILE* file, std::uint64_t offset) override {
        return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
    }

    std::optional<std::uint64_t> fileSize(std::FILE* file) override {
        struct stat info;
        if (fstat(fileno(file), &info) != 0) return std::nullopt;
        return static_cast<std::uint64_t>(info.st_size);
    }

    // The kernel copies between the files without the data passing through
    // the launcher (and shares the blocks where the file system can).
    CopyStatus copyFileRange(std::FILE* source, std::uint64_t offset, std::FILE* destination,
                             std::uint64_t length) override {
        if (std::fflush(destination) != 0) return CopyStatus::writeFailed;
        const int in = fileno(source);
        const int out = fileno(destination);
        off_t from = static_cast<off_t>(offset);
        std::uint64_t remaining = length;
        constexpr std::uint64_t largestStep = 1u << 30;
        // From an offset inside a page the kernel's copy splits every page
        // and runs about half again as long as a plain copy through a buffer
        // (measured with bench/benchmark.py); installers packed before
        // payloads were put on 4 KiB boundaries start them there.
        constexpr std::uint64_t pageSize = 4096;
        if (offset % pageSize != 0) return copyThroughBuffer(in, from, out, remaining);
        const std::uint64_t shared = posix::shareBlocks(in, from, out, remaining);
        from += static_cast<off_t>(shared);
        remaining -= shared;
        while (remaining > 0) {
            ssize_t copied = copy_file_range(in, &from, out, nullptr,
                                             static_cast<std::size_t>(std::min(remaining, largestStep)), 0);
            if (copied > 0) {
                remaining -= static_cast<std::uint64_t>(copied);
                continue;
            }
            if (copied == 0) return CopyStatus::readFailed;
            if (errno == EINTR) continue;
            if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) return CopyStatus::writeFailed;
            // Not possible between these two files: the plain way tells read
            // failures from write failures exactly.
            break;
        }
        return copyThroughBuffer(in, from, out, remaining);
    }

    FileRead readRegularFile(const std::string& path, std::size_t limit) override {
        FileRead result;
        int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            result.status = errno == ENOENT || errno == ENOTDIR ? FileReadStatus::missing : FileReadStatus::failed;
            return result;
        }
        struct stat info;
        if (fstat(fd, &info) != 0) {
            close(fd);
            return result;
        }
        if (!S_ISREG(info.st_mode)) {
            result.status = FileReadStatus::notRegularFile;
        } else {
            result.status = readBounded(fd, limit, result.content);
        }
        close(fd);
        if (result.status != FileReadStatus::ok) result.content.clear();
        return result;
    }

    // The directory's own descriptor carries the lock. O_NOFOLLOW and the
    // checks on that descriptor make sure that the directory locked is the
    // one the name leads to, not one a link points at.
    DirectoryLock lockDirectory(const std::string& dir) override {
        DirectoryLock result;
        int descriptor = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (descriptor < 0) return result;
        struct stat info;
        const bool ours = ::fstat(descriptor, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
                          (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
        if (!ours) {
            ::close(descriptor);
            return result;
        }
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            // A network file system may emulate flock with record locks,
            // which a descriptor open for reading only cannot take.
            result.status = errno == EWOULDBLOCK ? DirectoryLockStatus::inUse : DirectoryLockStatus::unsupported;
            ::close(descriptor);
            return result;
        }
        result.status = DirectoryLockStatus::taken;
        result.lock = std::make_unique<PosixFileLock>(descriptor);
        return result;
    }

    bool runsElevated() override { return geteuid() == 0; }
    std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries) override {
        return posix::writableByOthers(path, foldersAbove, mayAddEntries);
    }
    std::string treeWritableByOthers(const std::string& root) override { return posix::treeWritableByOthers(root); }

    ShutdownRight acquireShutdownRight() override {
        ShutdownRight right;
        right.tokenOpened = true;
        right.privilegeFound = geteuid() == 0 || hasCapSysBoot();
        return right;
    }

    // An orderly reboot through the init system's own program, by its system
    // path: PATH is the user's (and begins with the installer's korvu_lib),
    // and a root run must not restart through a program someone put there.
    bool restartMachine() override {
        for (const char* program : {"/usr/sbin/shutdown", "/sbin/shutdown"}) {
            if (access(program, X_OK) != 0) continue;
            ProcessOutcome outcome = spawnAndWait({program, "-r", "now"}, false, false);
            return outcome.completed && outcome.exitCode == 0;
        }
        return false;
    }

    InstanceLockResult takeInstanceLock(const std::string& name) override { return posix::takeLockFile(name); }
    std::string instanceLockProblem() override { return posix::lockFileProblem(); }
    // flock has taken it already, or refused.
    bool confirmInstanceLock() override { return true; }
    void releaseInstanceLock() override { posix::releaseLockFile(); }
    bool installInterruptHandler(std::function<void()> onInterrupt) override {
        return posix::startSignalThread(std::move(onInterrupt));
    }
    bool runAtExit(std::function<void()> handler) override { return posix::runAtExit(std::move(handler)); }
    void beginKeyEntry() override { beginTerminalKeyEntry(); }
    int readKeystroke() override { return readStandardInputByte(); }
    void endKeyEntry() override { endTerminalKeyEntry(); }
    bool randomBytes(std::uint8_t* buffer, std::size_t size) override { return systemRandomBytes(buffer, size); }

private:
    PlatformConventions conventions_;

    std::unique_ptr<SplashWindow> createSplashWindow() override {
        const char* display = std::getenv("DISPLAY");
        return makeX11SplashWindow(display != nullptr ? display : "");
    }
};

} // namespace

// A launcher started with a standard descriptor closed would hand that
// number to the next file it opens (the machine-wide lock, the log), and
// everything printed would land in that file; the installer would inherit
// the gap too. The null device fills each gap before anything is opened.
void fillClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        // The lowest free number is taken, which is this one; anything else
        // means the device could not be opened in the first place.
        if (opened >= 0 && opened != fd) close(opened);
    }
}

std::unique_ptr<Platform> makeSystemPlatform() {
    fillClosedStandardDescriptors();
    return std::make_unique<PosixPlatform>();
}

} // namespace talve
