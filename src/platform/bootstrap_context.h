#pragma once

#include "log/logger.h"
#include "platform/platform.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talve {

enum class LauncherOption;

// The run's single state object: the settings taken from the command line,
// the run's paths, the logger, and the services through which every other
// subsystem reaches the operating system. Its operations are spread over the
// files of the subsystems they belong to (command line, temporary directory,
// instance guard); this header is their one declaration.
class BootstrapContext {
public:
    explicit BootstrapContext(Platform& platform);
    ~BootstrapContext();
    BootstrapContext(const BootstrapContext&) = delete;
    BootstrapContext& operator=(const BootstrapContext&) = delete;

    Platform& platform() { return platform_; }
    Logger& logger() { return logger_; }

    // Progress and diagnostics reach the console only in console mode;
    // errors always do.
    void logDebug(const std::string& message) { logger_.debug(message, consoleMode); }
    void logInfo(const std::string& message) { logger_.info(message, consoleMode); }
    void logWarning(const std::string& message) { logger_.warning(message, consoleMode); }
    void logError(const std::string& message) { logger_.error(message, true); }

    // --- process and console services ----------------------------------------
    std::int32_t getDiskSpace(const std::string& directory);
    [[noreturn]] void exitWithCode(int code, bool pause);
    int hideSystem(const std::string& command, bool detachProcess, bool discardOutput);
    bool executeCommand(const std::string& command, bool detachProcess);
    // executeCommand, not detached, that hands back what the program wrote on
    // its standard error (at most errorOutputLimit bytes) while its output
    // stays off the console; in console mode the output is shown instead.
    bool executeCommandKeepingErrors(const std::string& command, std::string& errorOutput);
    // executeCommand for a program whose failure is an answer, not an error
    // of the run: it is logged as INFO, and the user is not asked to press
    // Enter at the end because of it. A program still running after
    // timeLimit is stopped, with the programs it started, and fails.
    bool executeCommandQuietly(const std::string& command, std::chrono::milliseconds timeLimit);
    static constexpr std::size_t errorOutputLimit = 16 * 1024;
    void reboot();
    void showConsole();
    void freeConsole();
    std::string getExecutableName(std::size_t bufferSize);
    std::string getAbsolutePath(const std::string& path);
    // The launcher's own file, made absolute: the installer it carries.
    std::string installerPath();
    bool changeDirectory(const std::string& directory);
    bool createDirectory(const std::string& directory);
    bool setEnvironmentVariable(const std::string& assignment);
    void setExitCode(int code);
    // Like changeDirectory, but only into a real directory of this user.
    bool enterPrivateDirectory(const std::string& directory);
    std::string environmentValue(const std::string& name);
    bool hasEnvironment(const std::string& name);

    // --- command line ----------------------------------------------------------
    bool processAndValidateArguments(int argc, char** argv);
    bool processArguments(int argc, char** argv);
    bool processValidatedArguments(int argc, char** argv, const std::string& specification);
    [[noreturn]] void displayUsage();
    void exportArguments(int argc, char** argv);
    // False, with the reason logged, when the exported command line leaves
    // no room to start a program with.
    bool exportFitsPrograms(int argc);

    // --- temporary directory, exit script, clean-up ----------------------------
    bool setTempDirectory();
    bool createExitScript();
    bool launchExitScript();
    bool removeDirectory(const std::string& directory);
    bool cleanUp();

    // --- single-instance guard and network launch -----------------------------
    void checkNetworkLaunch();
    bool checkOtherInstances();
    // True when another instance runs or the lock was not taken.
    bool lockInstance();
    // Cleans up and gives the lock back; from the exit and interruption handlers.
    void releaseInstance();
    bool instanceLockHeld() const { return instanceLockHeld_; }

    // --- silent and record runs ------------------------------------------------
    bool checkSilentFile();
    bool enterRecordKey();
    bool exportRecordKey();

    // Settings and state. Plain fields: every subsystem reads them.
    std::int32_t exitCode = 0;
    std::int32_t lastResult = 0;
    bool consoleMode = false;

    bool silentMode = false;
    bool splashEnabled = true;
    bool multipleInstances = false;
    std::string javaHome;
    bool javaHomeGiven = false;
    std::string javaArgs;
    std::string tempDirOption;
    std::string location;
    bool locationGiven = false;
    bool keyRequested = false;
    std::string keyValue;
    bool keyValueGiven = false;
    std::string recordFile;

    std::string tempDir;
    std::string pathSeparator;
    // Where the bootstrap table's marker was found in which file, so that a
    // later reader of the same file looks there first.
    std::string markerFile;
    std::uint64_t markerOffset = 0;
    std::string defaultJavaLauncher = "bin/java";
    // How long the runtime-checking jar may take before its silence counts
    // as a refusal; only tests shorten it.
    std::chrono::milliseconds runtimeCheckLimit{std::chrono::seconds(60)};
    std::string exitScriptName = "exitscript.bat";
    bool cleanedUp = false;

private:
    void exportArgument(int index, const char* argument);
    // One of the launcher's options takes effect; each pass decides what its value is.
    void applyOption(LauncherOption option, const std::optional<std::string>& value);
    void flushArgumentExport();
    int runHidden(const std::string& command, bool detachProcess, bool discardOutput, std::string* errorOutput,
                  std::optional<std::chrono::milliseconds> timeLimit = std::nullopt);
    bool executeCommand(const std::string& command, bool detachProcess, std::string* errorOutput,
                        bool failureIsError = true,
                        std::optional<std::chrono::milliseconds> timeLimit = std::nullopt);
    bool removeDirectory(const std::string& directory, bool failureIsError);
    void cleanUpOnInterruption();
    void noteInterruption();
    // Empty when no name could be had in base; lastTried then holds the last
    // name tried, empty when the random source failed.
    std::optional<std::string> claimTemporaryDirectory(const std::string& base, std::string& lastTried);
    void reportUnusableBase(const std::string& base, const std::string& lastTried);
    void releaseTemporaryDirectoryLock();

    Platform& platform_;
    Logger logger_;
    std::vector<std::string> pendingArgumentExport_;
    bool lastCommandStarted_ = false;
    // Held while the run lives: it marks the temporary directory as in use.
    std::atomic<FileLock*> tempDirLock_{nullptr};
    std::atomic<bool> instanceLockHeld_{false};
    // Set once the temporary directory is gone; see cleanUp.
    std::atomic<bool> temporaryDirectoryRemoved_{false};
};

} // namespace talve
