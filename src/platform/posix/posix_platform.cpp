#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/posix/x11_splash_window.h"
#include "platform/splash_window.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace talve {

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

int waitForChild(pid_t pid, ProcessOutcome& outcome) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    outcome.completed = true;
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) outcome.exitCode = 128 + WTERMSIG(status);
    return 0;
}

ProcessOutcome spawnAndWait(const std::vector<std::string>& arguments, bool detach, bool discardOutput) {
    ProcessOutcome outcome;
    if (arguments.empty() || arguments[0].empty()) return outcome;

    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (discardOutput) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    short flags = POSIX_SPAWN_SETSIGMASK;
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    // Without a controlling terminal, like a Windows process started detached from the console.
    if (detach) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes, flags);

    pid_t pid = 0;
    int failure = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failure != 0) return outcome;
    waitForChild(pid, outcome);
    return outcome;
}

class PosixPlatform : public Platform {
public:
    PosixPlatform() {
        conventions_.pathSeparator = "/";
        conventions_.searchPathSeparator = ':';
        conventions_.removeDirectoryCommand = "rm -rf ";
        conventions_.scriptRunner = "/bin/sh ";
        conventions_.temporaryBaseVariables = {"TEMP", "TMP", "TMPDIR"};
        conventions_.fallbackTemporaryBase = "/tmp";
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

    std::string executablePath() override {
        std::vector<char> buffer(PATH_MAX + 1);
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
        if (length <= 0) return std::string();
        return std::string(buffer.data(), static_cast<std::size_t>(length));
    }

    ProcessOutcome runProcess(const std::string& commandLine, bool detach, bool discardOutput) override {
        return spawnAndWait(splitCommandLine(commandLine), detach, discardOutput);
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
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, privateFileMode);
        if (fd < 0) return nullptr;
        std::FILE* file = fdopen(fd, "a");
        if (file == nullptr) close(fd);
        return file;
    }

    bool markExecutable(const std::string& path) override { return chmod(path.c_str(), 0700) == 0; }

    bool seek(std::FILE* file, std::uint64_t offset) override {
        return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
    }

    std::optional<std::uint64_t> fileSize(std::FILE* file) override {
        struct stat info;
        if (fstat(fileno(file), &info) != 0) return std::nullopt;
        return static_cast<std::uint64_t>(info.st_size);
    }

    ShutdownRight acquireShutdownRight() override {
        ShutdownRight right;
        right.tokenOpened = true;
        right.privilegeFound = geteuid() == 0 || hasCapSysBoot();
        return right;
    }

    bool restartMachine() override {
        // An orderly reboot through the init system, found on PATH like any command.
        ProcessOutcome outcome = spawnAndWait({"shutdown", "-r", "now"}, false, false);
        return outcome.completed && outcome.exitCode == 0;
    }

private:
    PlatformConventions conventions_;

    std::unique_ptr<SplashWindow> createSplashWindow() override {
        const char* display = std::getenv("DISPLAY");
        return makeX11SplashWindow(display != nullptr ? display : "");
    }
};

} // namespace

std::unique_ptr<Platform> makeSystemPlatform() { return std::make_unique<PosixPlatform>(); }

} // namespace talve
