#pragma once

#include "platform/platform.h"
#include "unit/support/fake_splash_window.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace talve {
namespace test {

// A Platform that keeps directories and the environment in memory, records
// every child process instead of starting it, and never touches the machine
// beyond the files a test names itself (installer files and extracted
// payloads are real files in a scratch directory).
class FakePlatform : public Platform {
public:
    enum class Style { Windows, Posix };

    struct ProcessCall {
        std::string commandLine;
        bool detach = false;
        bool discardOutput = false;
    };

    explicit FakePlatform(Style style = Style::Windows);

    // --- scripted state ----------------------------------------------------
    std::optional<std::string> currentDir;
    std::map<std::string, std::string> environment;
    std::set<std::string> directories; // existing directories
    // createDirectory fails for any path beginning with one of these.
    std::vector<std::string> unwritablePrefixes;
    // Paths beginning with one of these exist but belong to somebody else.
    std::vector<std::string> foreignPrefixes;
    std::optional<std::uint64_t> freeBytes;
    std::string executable;
    // Outcomes handed out to runProcess in order; a completed 0 once used up.
    std::deque<ProcessOutcome> outcomes;
    ShutdownRight shutdownRight;
    bool restartSucceeds = true;
    std::set<std::string> uncreatableFiles;

    // --- what happened -----------------------------------------------------
    std::vector<ProcessCall> processCalls;
    std::vector<std::string> assignments;      // every putEnvironment text
    std::vector<std::string> directoryChanges; // changeDirectory and enterPrivateDirectory targets
    std::vector<std::string> freeSpaceQueries;
    int restartRequests = 0;

    void queueOutcome(bool completed, int exitCode) { outcomes.push_back(ProcessOutcome{completed, exitCode}); }

    // --- Platform ------------------------------------------------------------
    const PlatformConventions& conventions() const override { return conventions_; }
    bool isAbsolutePath(const std::string& path) const override;
    std::optional<std::string> currentDirectory() override { return currentDir; }
    int changeDirectory(const std::string& dir) override;
    int createDirectory(const std::string& dir) override;
    bool enterPrivateDirectory(const std::string& dir) override;
    std::optional<std::uint64_t> freeBytesForUser(const std::string& dir) override;
    std::optional<std::string> getEnvironment(const std::string& name) override;
    int putEnvironment(const std::string& assignment) override;
    std::string executablePath() override { return executable; }
    ProcessOutcome runProcess(const std::string& commandLine, bool detach, bool discardOutput) override;
    bool consoleOwnedAlone() override { return false; }
    void showConsoleWindow(bool) override {}
    std::FILE* createPrivateFile(const std::string& path) override;
    std::FILE* openLogFile(const std::string& path) override;
    bool markExecutable(const std::string&) override { return true; }
    bool seek(std::FILE* file, std::uint64_t offset) override;
    std::optional<std::uint64_t> fileSize(std::FILE* file) override;
    ShutdownRight acquireShutdownRight() override { return shutdownRight; }
    bool restartMachine() override;

    // --- splash window -------------------------------------------------------
    // Every splash window of the test reports to this one scene.
    std::shared_ptr<FakeSplashScene> splashScene = std::make_shared<FakeSplashScene>();
    std::unique_ptr<SplashWindow> createSplashWindow() override;

private:
    bool foreign(const std::string& dir) const;

    Style style_;
    PlatformConventions conventions_;
};

} // namespace test
} // namespace talve
