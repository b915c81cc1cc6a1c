#include "platform/bootstrap_context.h"

#include "platform/command_line.h"
#include "platform/file_read_problem.h"

#include <cstdio>
#include <ctime>

namespace talve {

namespace {
const char* const temporaryDirectoryName = "TALVE_TEMP";
const char* const lockFileName = "talve_run.lock";
constexpr std::size_t exitScriptProbeLimit = 64 * 1024;
// Launchers started in the same second share a first name; this many in a
// row pass over names in use before the search gives up.
constexpr long claimAttempts = 64;

long secondOfRun() { return static_cast<long>(std::time(nullptr) % 10000000); }
} // namespace

// A directory belongs to the run that holds the lock inside it. A name whose
// lock another launcher holds is in use and passed over for the next number;
// a leftover of an earlier run (nobody holds its lock) is cleared under the
// lock first, so that two launchers can never both take it for a leftover.
std::optional<std::string> BootstrapContext::claimTemporaryDirectory(const std::string& base, long firstNumber) {
    for (long number = firstNumber; number < firstNumber + claimAttempts; ++number) {
        const std::string candidate = base + pathSeparator + temporaryDirectoryName + "_" + std::to_string(number);
        const std::string lockPath = candidate + pathSeparator + lockFileName;
        const bool fresh = createDirectory(candidate);
        std::unique_ptr<FileLock> lock = platform_.lockFile(lockPath);
        if (!lock) continue;
        if (!fresh) {
            removeDirectory(candidate);
            createDirectory(candidate);
            // The clearing removed the locked file: the lock is taken again on the new one.
            lock.reset();
            lock = platform_.lockFile(lockPath);
            if (!lock) continue;
        }
        releaseTemporaryDirectoryLock();
        tempDirLock_ = lock.release();
        return candidate;
    }
    return std::nullopt;
}

// Atomic, so that the interruption handler and the main thread may both
// clean up without a lock.
void BootstrapContext::releaseTemporaryDirectoryLock() { delete tempDirLock_.exchange(nullptr); }

bool BootstrapContext::setTempDirectory() {
    logInfo("Setting temp directory.");
    const long number = secondOfRun();
    std::string base;
    std::optional<std::string> claimed;
    if (!tempDirOption.empty()) {
        base = getAbsolutePath(tempDirOption);
        claimed = claimTemporaryDirectory(base, number);
    }

    const PlatformConventions& conventions = platform_.conventions();
    for (const std::string& variable : conventions.temporaryBaseVariables) {
        if (!base.empty()) break;
        std::optional<std::string> value = platform_.getEnvironment(variable);
        // An empty value would put the directory at the root. A relative one
        // is taken from the launch directory, where the run starts: the
        // directory changes below would read it against another one.
        if (!value || value->empty()) continue;
        const std::string absolute = getAbsolutePath(*value);
        claimed = claimTemporaryDirectory(absolute, number);
        if (claimed) base = absolute;
    }
    if (base.empty() && !conventions.fallbackTemporaryBase.empty()) {
        claimed = claimTemporaryDirectory(conventions.fallbackTemporaryBase, number);
        if (claimed) base = conventions.fallbackTemporaryBase;
    }

    if (base.empty()) {
        logError("No temporary directory defined. Possible solutions :");
        logError("\t1 - Specify the temporary directory on the command line ( -tempdir /tmp/ )");
        logError("\t2 - Define TEMP or TMP environment variable");
        return false;
    }
    if (!changeDirectory(base)) {
        logError("Unable to access temp directory " + base);
        releaseTemporaryDirectoryLock();
        return false;
    }
    tempDir = claimed.value_or(base + pathSeparator + temporaryDirectoryName + "_" + std::to_string(number));
    // The directory must be this run's own: a link or somebody else's
    // directory of the same name is never entered, and creating it over
    // one of those fails. Without the lock it may be another run's.
    if (!claimed || (!enterPrivateDirectory(tempDir) && !createDirectory(tempDir))) {
        logError("Problem creating temp directory " + tempDir);
        tempDir.clear();
        releaseTemporaryDirectoryLock();
        return false;
    }
    if (!enterPrivateDirectory(tempDir)) {
        logError("Directory " + tempDir + " does not exists");
        tempDir.clear();
        releaseTemporaryDirectoryLock();
        return false;
    }
    logInfo("The chosen temp directory is : " + tempDir);
    return true;
}

bool BootstrapContext::removeDirectory(const std::string& directory) {
    logInfo("Removing directory : " + directory);
    std::string command = removeDirectoryCommand + quoteArgument(directory);
    // The delete command must never meet a missing directory.
    createDirectory(directory);
    return executeCommand(command, false);
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
    const FileReadStatus script = platform_.readRegularFile(path, exitScriptProbeLimit).status;
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
// the directory is removed once, and a removal that did not end with code 0
// (one interrupted along with the run) is tried again by the next of them. An interruption handler and the
// main thread never remove at the same time: the platform stops the main
// thread at its next child process once an interruption has begun. No lock
// is taken here, since the main thread may be stopped for good inside this
// function and must not keep the handler out.
bool BootstrapContext::cleanUp() {
    if (temporaryDirectoryRemoved_) return true;
    logInfo("Starting clean up.");
    changeDirectory("..");
    // Windows cannot remove a directory while a file in it is open, so the
    // lock goes first.
    releaseTemporaryDirectoryLock();
    if (!tempDir.empty()) {
        const bool ran = removeDirectory(tempDir);
        if (!ran) logError("Failed to execute the clean up procedure");
        temporaryDirectoryRemoved_ = ran && lastResult == 0;
    }
    cleanedUp = true;
    return true;
}

} // namespace talve
