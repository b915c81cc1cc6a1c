#include "unit/support/fake_platform.h"

#include "platform/command_line.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace talve {
namespace test {

namespace {
bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }
} // namespace

FakePlatform::FakePlatform(Style style) : style_(style) {
    if (style == Style::Windows) {
        conventions_.pathSeparator = "\\";
        conventions_.searchPathSeparator = ';';
        conventions_.scriptRunner = "cmd.exe /c ";
        conventions_.temporaryBaseVariables = {"TEMP", "TMP"};
        conventions_.textLinesEndInCrLf = true;
        conventions_.networkPathPrefix = "\\\\";
        conventions_.homeVariable = "USERPROFILE";
        conventions_.executableSuffix = ".exe";
        conventions_.lockedDirectoryResistsRemoval = true;
        currentDir = "C:\\dir";
    } else {
        conventions_.pathSeparator = "/";
        conventions_.searchPathSeparator = ':';
        conventions_.scriptRunner = "/bin/sh ";
        conventions_.temporaryBaseVariables = {"TEMP", "TMP", "TMPDIR"};
        conventions_.fallbackTemporaryBase = "/tmp";
        conventions_.networkPathPrefix = "//";
        conventions_.homeVariable = "HOME";
        conventions_.commonRecordDirectoryFallback = "/var/lib/talve/";
        currentDir = "/work";
    }
}

bool FakePlatform::isAbsolutePath(const std::string& path) const {
    if (path.empty()) return true;
    if (style_ == Style::Posix) return path[0] == '/';
    return path[0] == '\\' || path.find(':') == 1;
}

bool FakePlatform::foreign(const std::string& dir) const {
    for (const std::string& prefix : foreignPrefixes)
        if (startsWith(dir, prefix)) return true;
    return false;
}

int FakePlatform::changeDirectory(const std::string& dir) {
    directoryChanges.push_back(dir);
    if (dir != ".." && directories.count(dir) == 0 && !foreign(dir)) return -1;
    if (dir != "..") currentDir = dir;
    return 0;
}

int FakePlatform::createDirectory(const std::string& dir) {
    for (const std::string& prefix : unwritablePrefixes)
        if (startsWith(dir, prefix)) return -1;
    if (foreign(dir) || !directories.insert(dir).second) return -1;
    return 0;
}

bool FakePlatform::enterPrivateDirectory(const std::string& dir) {
    directoryChanges.push_back(dir);
    if (foreign(dir) || directories.count(dir) == 0) return false;
    currentDir = dir;
    return true;
}

std::optional<std::vector<std::string>> FakePlatform::listDirectory(const std::string& dir) {
    listedDirectories.push_back(dir);
    auto found = listings.find(dir);
    if (found == listings.end()) return std::nullopt;
    return found->second;
}

TreeRemoval FakePlatform::removeTree(const std::string& dir) {
    removedTrees.push_back(dir);
    if (duringRemoval) duringRemoval(dir);
    if (!unremovableTrees.empty()) {
        TreeRemoval left = unremovableTrees.front();
        unremovableTrees.pop_front();
        return left;
    }
    directories.erase(dir);
    TreeRemoval removed;
    removed.removed = true;
    return removed;
}

std::optional<std::uint64_t> FakePlatform::freeBytesForUser(const std::string& dir) {
    freeSpaceQueries.push_back(dir);
    return freeBytes;
}

std::optional<std::string> FakePlatform::getEnvironment(const std::string& name) {
    auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
}

int FakePlatform::putEnvironment(const std::string& assignment) {
    assignments.push_back(assignment);
    std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) return -1;
    std::string value = assignment.substr(equals + 1);
    if (value.empty()) environment.erase(assignment.substr(0, equals));
    else environment[assignment.substr(0, equals)] = value;
    return 0;
}

ProcessOutcome FakePlatform::runProcess(const std::string& commandLine, bool detach, bool discardOutput) {
    auto record = [&]() -> InterruptionGate::ChildId {
        processCalls.push_back(ProcessCall{commandLine, detach, discardOutput, false, std::nullopt});
        return static_cast<InterruptionGate::ChildId>(processCalls.size());
    };
    InterruptionGate::ChildId child = gate != nullptr ? gate->startChild(record) : record();
    if (duringProcess) duringProcess(commandLine);
    if (gate != nullptr) gate->childEnded(child);
    if (outcomes.empty()) return ProcessOutcome{true, 0};
    ProcessOutcome outcome = outcomes.front();
    outcomes.pop_front();
    return outcome;
}

ProcessOutcome FakePlatform::runProcessWithin(const std::string& commandLine, bool discardOutput,
                                              std::chrono::milliseconds timeLimit) {
    ProcessOutcome outcome = runProcess(commandLine, false, discardOutput);
    processCalls.back().timeLimit = timeLimit;
    return outcome;
}

ProcessOutcome FakePlatform::runProcessKeepingErrors(const std::string& commandLine, std::size_t limit,
                                                     std::string& errorOutput) {
    ProcessOutcome outcome = runProcess(commandLine, false, true);
    processCalls.back().keepErrors = true;
    errorOutput.clear();
    if (!errorOutputs.empty()) {
        errorOutput = errorOutputs.front().substr(0, limit);
        errorOutputs.pop_front();
    }
    return outcome;
}

std::FILE* FakePlatform::createPrivateFile(const std::string& path) {
    if (uncreatableFiles.count(path) != 0) return nullptr;
    return std::fopen(path.c_str(), "w+b");
}

std::FILE* FakePlatform::openLogFile(const std::string& path) { return std::fopen(path.c_str(), "wx"); }

namespace {
class FakeLock final : public FileLock {
public:
    FakeLock(std::set<std::string>& held, std::string path) : held_(held), path_(std::move(path)) {}
    ~FakeLock() override { held_.erase(path_); }

private:
    std::set<std::string>& held_;
    std::string path_;
};
} // namespace

// Only a directory of this user's; a second lock on it, here or elsewhere, fails.
DirectoryLock FakePlatform::lockDirectory(const std::string& dir) {
    DirectoryLock result;
    if (directories.count(dir) == 0 || foreign(dir)) return result;
    if (!directoryLocksSupported) {
        result.status = DirectoryLockStatus::unsupported;
        return result;
    }
    if (locksHeldElsewhere.count(dir) != 0 || !locksHeld.insert(dir).second) {
        result.status = DirectoryLockStatus::inUse;
        return result;
    }
    result.status = DirectoryLockStatus::taken;
    result.lock = std::make_unique<FakeLock>(locksHeld, dir);
    return result;
}

bool FakePlatform::seek(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(LONG_MAX)) return false;
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> FakePlatform::fileSize(std::FILE* file) {
    long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return std::nullopt;
    long size = std::ftell(file);
    std::fseek(file, here, SEEK_SET);
    if (size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

CopyStatus FakePlatform::copyFileRange(std::FILE* source, std::uint64_t offset, std::FILE* destination,
                                       std::uint64_t length) {
    if (!seek(source, offset)) return CopyStatus::readFailed;
    char block[4096];
    for (std::uint64_t remaining = length; remaining > 0;) {
        std::size_t wanted = remaining < sizeof block ? static_cast<std::size_t>(remaining) : sizeof block;
        std::size_t got = std::fread(block, 1, wanted, source);
        if (got == 0) return CopyStatus::readFailed;
        if (std::fwrite(block, 1, got, destination) != got) return CopyStatus::writeFailed;
        remaining -= got;
    }
    return CopyStatus::copied;
}

// The files are the test's own real ones, like installer files and payloads.
FileRead FakePlatform::readRegularFile(const std::string& path, std::size_t limit) {
    FileRead result;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        result.status = FileReadStatus::missing;
        return result;
    }
    if (!std::filesystem::is_regular_file(path, error)) {
        result.status = FileReadStatus::notRegularFile;
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    result.content = content.str();
    result.status = result.content.size() > limit ? FileReadStatus::tooLarge : FileReadStatus::ok;
    if (result.status != FileReadStatus::ok) result.content.clear();
    return result;
}

bool FakePlatform::restartMachine() {
    // Counted only: nothing in the tests may restart anything.
    ++restartRequests;
    return restartSucceeds;
}

InstanceLockResult FakePlatform::takeInstanceLock(const std::string& name) {
    lockName = name;
    lockHeld = lockAnswer == InstanceLockResult::Taken;
    return lockAnswer;
}

void FakePlatform::releaseInstanceLock() {
    lockHeld = false;
    ++lockReleases;
}

bool FakePlatform::installInterruptHandler(std::function<void()> onInterrupt) {
    if (handlerInstalls) interruptHandler = std::move(onInterrupt);
    return handlerInstalls;
}

bool FakePlatform::runAtExit(std::function<void()> handler) {
    exitHandler = std::move(handler);
    return true;
}

int FakePlatform::readKeystroke() {
    if (keystrokes.empty()) return -1;
    const int key = keystrokes.front();
    keystrokes.pop_front();
    return key;
}

void FakePlatform::type(const std::string& text) {
    for (char c : text) keystrokes.push_back(static_cast<unsigned char>(c));
}

bool FakePlatform::randomBytes(std::uint8_t* buffer, std::size_t size) {
    // Predictable, but different from call to call.
    for (std::size_t i = 0; i < size; ++i) {
        if (randomScript.empty()) {
            buffer[i] = nextRandomByte_++;
            continue;
        }
        buffer[i] = randomScript.front();
        randomScript.pop_front();
    }
    return randomSourceWorks;
}

void FakePlatform::queueRandomWord(std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) randomScript.push_back(static_cast<std::uint8_t>(word >> shift));
}

std::unique_ptr<SplashWindow> FakePlatform::createSplashWindow() {
    splashScene->record([this] { ++splashScene->windowsMade; });
    return std::make_unique<FakeSplashWindow>(splashScene);
}

} // namespace test
} // namespace talve
