#include "platform/bootstrap_context.h"

#include "platform/command_line.h"
#include "platform/file_read_problem.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

namespace talve {

namespace {
const char* const temporaryDirectoryName = "TALVE_TEMP";
constexpr std::size_t exitScriptProbeLimit = 64 * 1024;
// The number of a name has at most seven digits.
constexpr std::uint32_t nameNumbers = 10000000;
// Names are drawn at random so that nobody can make them in advance: to stop
// a launcher for good, another user would have to hold nearly all ten
// million names of a folder. Each of these attempts is one mkdir and one open.
constexpr int claimAttempts = 128;

// Every number equally likely: a draw from the last, incomplete run of
// nameNumbers in the 32-bit range is drawn again.
std::optional<long> drawNameNumber(Platform& platform) {
    constexpr std::uint64_t fairLimit = (std::uint64_t{1} << 32) / nameNumbers * nameNumbers;
    for (int draw = 0; draw < 16; ++draw) {
        std::uint8_t bytes[4];
        if (!platform.randomBytes(bytes, sizeof bytes)) return std::nullopt;
        const std::uint32_t word = bytes[0] | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
                                   std::uint32_t{bytes[3]} << 24;
        if (word < fairLimit) return static_cast<long>(word % nameNumbers);
    }
    return std::nullopt;
}
} // namespace

// A directory belongs to the run that made it (mkdir fails on a name that
// exists) and holds the lock on it. A name whose lock is held, or that is
// not this user's alone, is passed over for another; a leftover of an ended
// run of this user (nobody holds its lock) is cleared under the lock first,
// so that two launchers can never both take it for a leftover.
std::optional<std::string> BootstrapContext::claimTemporaryDirectory(const std::string& base, std::string& lastTried) {
    for (int attempt = 0; attempt < claimAttempts; ++attempt) {
        const std::optional<long> number = drawNameNumber(platform_);
        if (!number) {
            logError("Unable to draw a name for the temp directory: the system's random source failed.");
            lastTried.clear();
            return std::nullopt;
        }
        const std::string candidate = base + pathSeparator + temporaryDirectoryName + "_" + std::to_string(*number);
        lastTried = candidate;
        const bool fresh = createDirectory(candidate);
        DirectoryLock taken = platform_.lockDirectory(candidate);
        // Made by this mkdir, so this run's; nobody else can lock it either.
        if (fresh && taken.status == DirectoryLockStatus::unsupported) return candidate;
        if (taken.status != DirectoryLockStatus::taken) continue;
        if (!fresh) {
            // Where the held lock keeps the directory itself, only its
            // contents go; elsewhere it is made anew. Either way it is locked
            // again, and passed over if somebody else was quicker.
            removeDirectory(candidate, false);
            createDirectory(candidate);
            taken.lock.reset();
            taken = platform_.lockDirectory(candidate);
            if (taken.status != DirectoryLockStatus::taken) continue;
        }
        releaseTemporaryDirectoryLock();
        tempDirLock_ = taken.lock.release();
        return candidate;
    }
    return std::nullopt;
}

// Atomic, so that the interruption handler and the main thread may both
// clean up without a lock.
void BootstrapContext::releaseTemporaryDirectoryLock() { delete tempDirLock_.exchange(nullptr); }

void BootstrapContext::reportUnusableBase(const std::string& base, const std::string& lastTried) {
    logError("Problem creating temp directory " + lastTried);
    logError("None of the " + std::to_string(claimAttempts) + " names tried in " + base +
             " could be made: each exists already or the folder refuses new directories.");
}

bool BootstrapContext::setTempDirectory() {
    logInfo("Setting temp directory.");
    std::string base;
    std::optional<std::string> claimed;
    // Folders in which no name could be made, each with the last name tried there.
    std::vector<std::pair<std::string, std::string>> unusable;
    bool randomSourceFailed = false;
    auto tryBase = [&](const std::string& folder) {
        for (const auto& tried : unusable)
            if (tried.first == folder) return;
        std::string lastTried;
        claimed = claimTemporaryDirectory(folder, lastTried);
        if (claimed) base = folder;
        else if (lastTried.empty()) randomSourceFailed = true;
        else unusable.emplace_back(folder, lastTried);
    };

    if (!tempDirOption.empty()) {
        const std::string option = getAbsolutePath(tempDirOption);
        // A -tempdir folder must exist already.
        if (!changeDirectory(option)) {
            logError("Unable to access temp directory " + option);
            return false;
        }
        tryBase(option);
    } else {
        const PlatformConventions& conventions = platform_.conventions();
        for (const std::string& variable : conventions.temporaryBaseVariables) {
            if (claimed || randomSourceFailed) break;
            std::optional<std::string> value = platform_.getEnvironment(variable);
            // An empty value would put the directory at the root. A relative one
            // is taken from the launch directory, where the run starts: the
            // directory changes below would read it against another one.
            if (!value || value->empty()) continue;
            tryBase(getAbsolutePath(*value));
        }
        if (!claimed && !randomSourceFailed && !conventions.fallbackTemporaryBase.empty())
            tryBase(conventions.fallbackTemporaryBase);
    }

    if (!claimed) {
        if (randomSourceFailed) return false;
        // Folders were named, but every name in them was taken or refused:
        // saying that no folder was defined would send the user the wrong way.
        for (const auto& [folder, lastTried] : unusable) reportUnusableBase(folder, lastTried);
        if (unusable.empty()) {
            logError("No temporary directory defined. Possible solutions :");
            logError("\t1 - Specify the temporary directory on the command line ( -tempdir /tmp/ )");
            logError("\t2 - Define TEMP or TMP environment variable");
        }
        return false;
    }
    if (tempDirOption.empty() && !changeDirectory(base)) {
        logError("Unable to access temp directory " + base);
        releaseTemporaryDirectoryLock();
        return false;
    }
    tempDir = *claimed;
    // The directory must be this run's own: a link or somebody else's
    // directory of the same name is never entered.
    if (!enterPrivateDirectory(tempDir)) {
        logError("Directory " + tempDir + " does not exists");
        // Made or cleared by this run, so it goes with the run; a link in
        // its place goes without what it leads to.
        releaseTemporaryDirectoryLock();
        removeDirectory(tempDir);
        tempDir.clear();
        return false;
    }
    logInfo("The chosen temp directory is : " + tempDir);
    return true;
}

bool BootstrapContext::removeDirectory(const std::string& directory) { return removeDirectory(directory, true); }

// Done in this process: a clean-up that had to start a program would fail
// exactly when the run is short of processes, descriptors or room for an
// environment. failureIsError false: a removal that may fail in part without
// harm, whose outcome the caller checks in its own way.
bool BootstrapContext::removeDirectory(const std::string& directory, bool failureIsError) {
    logInfo("Removing directory : " + directory);
    const TreeRemoval removal = platform_.removeTree(directory);
    lastResult = removal.removed ? 0 : 1;
    if (removal.removed) return true;
    const std::string left = "The directory " + directory + " could not be removed whole: " +
                             std::to_string(removal.entriesLeft) +
                             (removal.entriesLeft == 1 ? " entry is" : " entries are") + " left, among them " +
                             removal.firstLeft + ".";
    if (failureIsError) logError(left);
    else logInfo(left);
    return false;
}

bool BootstrapContext::createExitScript() {
    logInfo("Creating exit script.");
    if (tempDir.empty()) {
        logError("Unable to create the exit script. The temp directory should first be set.");
        return false;
    }
    const std::string path = tempDir + pathSeparator + exitScriptName;
    setEnvironmentVariable("KORVU_BOOTSTRAP_TEMP=" + tempDir);
    setEnvironmentVariable("KORVU_BOOTSTRAP_ONEXIT_SCRIPT=" + path);
    std::FILE* script = std::fopen(path.c_str(), "w");
    if (script == nullptr) {
        logError("Failed to create file " + path);
        return false;
    }
    std::fclose(script);
    return true;
}

bool BootstrapContext::launchExitScript() {
    logInfo("Launching exit script.");
    const std::string path = tempDir + pathSeparator + exitScriptName;
    // Only looked at, never kept: a script past the limit is still a regular
    // file and runs. A FIFO put there would block whoever opens it, this
    // launcher or the script runner, so it is refused.
    const FileRead read = platform_.readRegularFile(path, exitScriptProbeLimit);
    const FileReadStatus script = read.status;
    if (script == FileReadStatus::missing) {
        logInfo("No exit script has been found in the temp directory. This step will be ignored.");
        changeDirectory("..");
        return true;
    }
    if (script != FileReadStatus::ok && script != FileReadStatus::tooLarge) {
        logError(fileReadProblem(path, script, exitScriptProbeLimit));
        changeDirectory("..");
        return false;
    }
    // The script as created, left empty by the installer, would do nothing
    // and return 0: starting the interpreter for it would only cost the user
    // time (cmd.exe takes tens of milliseconds to start).
    if (script == FileReadStatus::ok && read.content.empty()) {
        logInfo("The exit script is empty. This step will be ignored.");
        changeDirectory("..");
        return true;
    }
    const std::string command = platform_.conventions().scriptRunner + quoteArgument(path);
    // Leave the directory so that the clean-up can remove it.
    changeDirectory("..");
    lastResult = hideSystem(command, false, false);
    if (lastResult != 0) {
        logError("The exit script failed to execute properly. The return code was : " + std::to_string(lastResult));
        return false;
    }
    return true;
}

// The driver, the exit handler and the interruption handler all clean up;
// the directory is removed once, and a removal that left something (a file
// the installer's helper still held) is tried again by the next of them. An
// interruption handler waits a moment for the main thread to stop at its
// next child process or at its exit; should the two removals still meet,
// each takes what the other removed for removed. No lock is taken here: a
// thread stopped for good while holding it would keep the other out.
bool BootstrapContext::cleanUp() {
    if (temporaryDirectoryRemoved_) return true;
    logInfo("Starting clean up.");
    changeDirectory("..");
    // Where the lock can be kept through the removal, no other launcher can
    // take the name for a leftover while the removal runs.
    if (platform_.conventions().lockedDirectoryResistsRemoval) releaseTemporaryDirectoryLock();
    if (!tempDir.empty()) {
        const bool lockHeld = tempDirLock_.load() != nullptr;
        bool removed = removeDirectory(tempDir, !lockHeld);
        // Short of descriptors, the one the lock holds may be what the
        // removal lacks.
        if (!removed && lockHeld) {
            releaseTemporaryDirectoryLock();
            removed = removeDirectory(tempDir);
        }
        if (!removed) logError("Failed to execute the clean up procedure");
        temporaryDirectoryRemoved_ = removed;
    }
    releaseTemporaryDirectoryLock();
    cleanedUp = true;
    return true;
}

} // namespace talve
