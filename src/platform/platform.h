#pragma once

// The one door to the operating system. Everything outside src/platform is
// operating-system independent and reaches the system only through this
// interface; posix/ and win32/ implement it, and the build picks one.
// Tests substitute a fake where a real process or disk is not wanted.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talve {

class SplashWindow;

// Texts and characters that differ between systems while the logic stays the same.
struct PlatformConventions {
    std::string pathSeparator;          // placed between a directory and a name
    char searchPathSeparator;           // between entries of PATH
    std::string removeDirectoryCommand; // prefix of the command that deletes a tree quietly
    std::string scriptRunner;           // prefix of the command that runs the exit script
    // Variables naming a temporary folder, tried in order when -tempdir is not
    // given, then the system's own folder (empty where there is none).
    std::vector<std::string> temporaryBaseVariables;
    std::string fallbackTemporaryBase;
};

struct ProcessOutcome {
    bool completed = false; // false: the program could not be started or waited for
    int exitCode = 1;       // meaningful only when completed
};

struct ShutdownRight {
    bool tokenOpened = false;    // the process could open its own security token
    bool privilegeFound = false; // the shutdown privilege exists and can be enabled
};

class Platform {
public:
    virtual ~Platform() = default;

    virtual const PlatformConventions& conventions() const = 0;

    // True when the path needs no current directory in front of it.
    virtual bool isAbsolutePath(const std::string& path) const = 0;

    // --- directories -------------------------------------------------------
    virtual std::optional<std::string> currentDirectory() = 0;
    // Both return 0 on success like the C runtime calls they stand for.
    virtual int changeDirectory(const std::string& dir) = 0;
    // Creates one level, for the owner only where the system has such modes.
    virtual int createDirectory(const std::string& dir) = 0;
    // Changes into dir only when it is a real directory (not a link) that
    // belongs to this user; the run's private directory is entered this way
    // so that nobody else can slip a directory of theirs under the launcher.
    virtual bool enterPrivateDirectory(const std::string& dir) = 0;
    // Free bytes on the volume holding dir that this user may use.
    virtual std::optional<std::uint64_t> freeBytesForUser(const std::string& dir) = 0;

    // --- environment -------------------------------------------------------
    virtual std::optional<std::string> getEnvironment(const std::string& name) = 0;
    // NAME=value; an empty value removes the variable. 0 on success.
    virtual int putEnvironment(const std::string& assignment) = 0;

    // --- this process ------------------------------------------------------
    // Full path of the running executable, empty when the system cannot tell.
    virtual std::string executablePath() = 0;

    // --- child processes ---------------------------------------------------
    // Runs a command line (program first, arguments after it, quoted by the
    // Windows C runtime rules; never through a shell) with its window hidden,
    // in this process's environment and current directory, and waits for it
    // without a time limit. detach: no console / controlling terminal for the
    // child. discardOutput: its standard output and error go to the null device.
    virtual ProcessOutcome runProcess(const std::string& commandLine, bool detach, bool discardOutput) = 0;

    // --- console -----------------------------------------------------------
    // True when the console belongs to this process alone (started from the
    // desktop rather than from a shell that shares it).
    virtual bool consoleOwnedAlone() = 0;
    virtual void showConsoleWindow(bool visible) = 0;

    // --- files -------------------------------------------------------------
    // Creates or truncates a file for reading and writing in binary mode,
    // readable and writable by the owner only where the system has such modes.
    virtual std::FILE* createPrivateFile(const std::string& path) = 0;
    // Opens a file for appending text, creating it owner-only; never follows
    // a link at that name (the log lies in a shared temporary folder).
    virtual std::FILE* openLogFile(const std::string& path) = 0;
    virtual bool markExecutable(const std::string& path) = 0;
    // Offsets in an installer file can go beyond 2 GiB, past what fseek takes.
    virtual bool seek(std::FILE* file, std::uint64_t offset) = 0;
    virtual std::optional<std::uint64_t> fileSize(std::FILE* file) = 0;

    // --- reboot ------------------------------------------------------------
    virtual ShutdownRight acquireShutdownRight() = 0;
    // Restarts the machine at once, closing applications without asking.
    virtual bool restartMachine() = 0;

    // --- splash window -----------------------------------------------------
    // A window for the splash thread (platform/splash_window.h), made on the
    // main thread (it may read the environment, which only that thread may
    // change) and then handed to the splash thread. Always an object: a
    // system without a usable display fails its steps instead.
    virtual std::unique_ptr<SplashWindow> createSplashWindow() = 0;
};

// The implementation for the system this build targets.
std::unique_ptr<Platform> makeSystemPlatform();

} // namespace talve
