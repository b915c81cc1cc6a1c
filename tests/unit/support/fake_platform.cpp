#include "unit/support/fake_platform.h"

#include "platform/command_line.h"

#include <climits>

namespace talve {
namespace test {

namespace {
bool startsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }
} // namespace

FakePlatform::FakePlatform(Style style) : style_(style) {
    if (style == Style::Windows) {
        conventions_.pathSeparator = "\\";
        conventions_.searchPathSeparator = ';';
        conventions_.removeDirectoryCommand = "cmd.exe /c rmdir /S /Q ";
        conventions_.scriptRunner = "cmd.exe /c ";
        conventions_.temporaryBaseVariables = {"TEMP", "TMP"};
        currentDir = "C:\\dir";
    } else {
        conventions_.pathSeparator = "/";
        conventions_.searchPathSeparator = ':';
        conventions_.removeDirectoryCommand = "rm -rf ";
        conventions_.scriptRunner = "/bin/sh ";
        conventions_.temporaryBaseVariables = {"TEMP", "TMP", "TMPDIR"};
        conventions_.fallbackTemporaryBase = "/tmp";
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
    processCalls.push_back(ProcessCall{commandLine, detach, discardOutput});
    // The directory removal is the one command whose effect later steps see.
    const std::string& remove = conventions_.removeDirectoryCommand;
    if (startsWith(commandLine, remove)) {
        std::vector<std::string> target = splitCommandLine(commandLine.substr(remove.size()));
        if (!target.empty()) directories.erase(target.back());
    }
    if (outcomes.empty()) return ProcessOutcome{true, 0};
    ProcessOutcome outcome = outcomes.front();
    outcomes.pop_front();
    return outcome;
}

std::FILE* FakePlatform::createPrivateFile(const std::string& path) {
    if (uncreatableFiles.count(path) != 0) return nullptr;
    return std::fopen(path.c_str(), "w+b");
}

std::FILE* FakePlatform::openLogFile(const std::string& path) { return std::fopen(path.c_str(), "a"); }

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

bool FakePlatform::restartMachine() {
    // Counted only: nothing in the tests may restart anything.
    ++restartRequests;
    return restartSucceeds;
}

std::unique_ptr<SplashWindow> FakePlatform::createSplashWindow() {
    splashScene->record([this] { ++splashScene->windowsMade; });
    return std::make_unique<FakeSplashWindow>(splashScene);
}

} // namespace test
} // namespace talve
