#pragma once

#include "platform/interruption_gate.h"
#include "platform/platform.h"
#include "unit/support/fake_splash_window.h"

#include <cstdint>
#include <chrono>
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
        bool keepErrors = false; // started through runProcessKeepingErrors
        std::optional<std::chrono::milliseconds> timeLimit; // given to runProcessWithin
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
    // What listDirectory gives for each directory; any other cannot be listed.
    std::map<std::string, std::vector<std::string>> listings;
    std::string executable;
    // What removeTree answers, in order, before it removes for good.
    std::deque<TreeRemoval> unremovableTrees;
    // Runs at each removeTree, before it answers.
    std::function<void(const std::string& dir)> duringRemoval;
    // Outcomes handed out to runProcess in order; a completed 0 once used up.
    std::deque<ProcessOutcome> outcomes;
    // What runProcessKeepingErrors hands back as standard error, in order; "" once used up.
    std::deque<std::string> errorOutputs;
    ShutdownRight shutdownRight;
    bool restartSucceeds = true;
    std::set<std::string> uncreatableFiles;
    // Directories whose lock other processes hold.
    std::set<std::string> locksHeldElsewhere;
    bool directoryLocksSupported = true;
    // Handed out by randomBytes before its own predictable bytes.
    std::deque<std::uint8_t> randomScript;
    // Keys typed at a masked prompt, in order; when used up the input has ended.
    std::deque<int> keystrokes;
    bool randomSourceWorks = true;

    // --- what happened -----------------------------------------------------
    std::vector<ProcessCall> processCalls;
    std::vector<std::string> assignments;      // every putEnvironment text
    std::vector<std::string> directoryChanges; // changeDirectory and enterPrivateDirectory targets
    std::vector<std::string> freeSpaceQueries;
    std::vector<std::string> listedDirectories;
    std::vector<std::string> removedTrees; // every removeTree target
    int restartRequests = 0;
    std::set<std::string> locksHeld; // taken through lockDirectory and not yet released
    int keyEntriesBegun = 0;
    int keyEntriesEnded = 0;

    void queueOutcome(bool completed, int exitCode) { outcomes.push_back(ProcessOutcome{completed, exitCode}); }

    // --- Platform ------------------------------------------------------------
    const PlatformConventions& conventions() const override { return conventions_; }
    bool isAbsolutePath(const std::string& path) const override;
    std::optional<std::string> currentDirectory() override { return currentDir; }
    int changeDirectory(const std::string& dir) override;
    int createDirectory(const std::string& dir) override;
    bool enterPrivateDirectory(const std::string& dir) override;
    std::optional<std::vector<std::string>> listDirectory(const std::string& dir) override;
    TreeRemoval removeTree(const std::string& dir) override;
    std::optional<std::uint64_t> freeBytesForUser(const std::string& dir) override;
    std::optional<std::string> getEnvironment(const std::string& name) override;
    int putEnvironment(const std::string& assignment) override;
    int putEnvironmentAll(const std::vector<std::string>& assignments) override {
        ++bulkEnvironmentCalls;
        int result = 0;
        for (const std::string& assignment : assignments)
            if (putEnvironment(assignment) != 0) result = -1;
        return result;
    }
    StartRoom room;
    int bulkEnvironmentCalls = 0;
    StartRoom startRoom() override { return room; }
    std::string executablePath() override { return executable; }
    ProcessOutcome runProcess(const std::string& commandLine, bool detach, bool discardOutput) override;
    ProcessOutcome runProcessKeepingErrors(const std::string& commandLine, std::size_t limit,
                                           std::string& errorOutput) override;
    ProcessOutcome runProcessWithin(const std::string& commandLine, bool discardOutput,
                                    std::chrono::milliseconds timeLimit) override;
    bool consoleOwnedAlone() override { return false; }
    void showConsoleWindow(bool) override {}
    std::FILE* createPrivateFile(const std::string& path) override;
    std::FILE* openLogFile(const std::string& path) override;
    std::FILE* openForReading(const std::string& path) override { return std::fopen(path.c_str(), "rb"); }
    bool markExecutable(const std::string&) override { return true; }
    DirectoryLock lockDirectory(const std::string& dir) override;
    bool seek(std::FILE* file, std::uint64_t offset) override;
    std::optional<std::uint64_t> fileSize(std::FILE* file) override;
    CopyStatus copyFileRange(std::FILE* source, std::uint64_t offset, std::FILE* destination,
                             std::uint64_t length) override;
    FileRead readRegularFile(const std::string& path, std::size_t limit) override;
    ShutdownRight acquireShutdownRight() override { return shutdownRight; }
    // An elevated run, and the paths others may write to, with the reason
    // given for each; every question is recorded as path, then "+" for
    // foldersAbove and "a" for mayAddEntries.
    bool elevated = false;
    std::map<std::string, std::string> openToOthers;
    std::vector<std::string> rightsQuestions;
    bool runsElevated() override { return elevated; }
    std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries) override {
        rightsQuestions.push_back(path + (foldersAbove ? " +" : " ") + (mayAddEntries ? "a" : ""));
        auto found = openToOthers.find(path);
        return found == openToOthers.end() ? std::string() : found->second;
    }
    // Recorded as path, then " tree".
    std::string treeWritableByOthers(const std::string& root) override {
        rightsQuestions.push_back(root + " tree");
        auto found = openToOthers.find(root);
        return found == openToOthers.end() ? std::string() : found->second;
    }
    bool restartMachine() override;
    void beginKeyEntry() override { ++keyEntriesBegun; }
    int readKeystroke() override;
    void endKeyEntry() override { ++keyEntriesEnded; }
    bool randomBytes(std::uint8_t* buffer, std::size_t size) override;

    // Queues text as typed keys, each byte one key.
    void type(const std::string& text);
    // Queues a 32-bit number for randomBytes, least significant byte first.
    void queueRandomWord(std::uint32_t word);

    // --- single-instance lock, interruption and exit ---------------------------
    // Scripted answers; the lock counts as held from a Taken answer until released.
    InstanceLockResult lockAnswer = InstanceLockResult::Taken;
    std::string lockProblem; // what instanceLockProblem tells
    bool handlerInstalls = true;
    bool lockConfirms = true;
    bool lockHeld = false;
    int lockReleases = 0;
    std::string lockName;
    // When set, children start and end through this gate as on a real
    // system, and duringProcess runs while each one "runs" (outside the gate).
    InterruptionGate* gate = nullptr;
    std::function<void(const std::string& commandLine)> duringProcess;
    // What the launcher registered; a test calls them as the system would.
    std::function<void()> interruptHandler;
    std::function<void()> exitHandler;

    InstanceLockResult takeInstanceLock(const std::string& name) override;
    bool confirmInstanceLock() override { return lockConfirms; }
    std::string instanceLockProblem() override { return lockProblem; }
    void releaseInstanceLock() override;
    bool installInterruptHandler(std::function<void()> onInterrupt) override;
    bool runAtExit(std::function<void()> handler) override;

    // --- splash window -------------------------------------------------------
    // Every splash window of the test reports to this one scene.
    std::shared_ptr<FakeSplashScene> splashScene = std::make_shared<FakeSplashScene>();
    std::unique_ptr<SplashWindow> createSplashWindow() override;

private:
    bool foreign(const std::string& dir) const;

    Style style_;
    PlatformConventions conventions_;
    std::uint8_t nextRandomByte_ = 0;
};

} // namespace test
} // namespace talve
