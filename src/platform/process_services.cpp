#include "platform/bootstrap_context.h"

#include "platform/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace talve {

namespace {
// The file name of the command's program, without its folder.
std::string programName(const std::string& command) {
    const std::vector<std::string> words = splitCommandLine(command);
    if (words.empty()) return command;
    const std::string& program = words.front();
    const std::size_t cut = program.find_last_of("/\\");
    return cut == std::string::npos ? program : program.substr(cut + 1);
}
} // namespace

std::int32_t BootstrapContext::getDiskSpace(const std::string& directory) {
    logDebug("In JarExtractor::getDiskSpace method");
    std::optional<std::uint64_t> bytes = platform_.freeBytesForUser(directory);
    if (!bytes) return -1;
    std::uint64_t megabytes = *bytes >> 20;
    // A figure beyond 32 bits would wrap to a negative "failure"; it is simply plenty.
    if (megabytes > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(megabytes);
}

void BootstrapContext::exitWithCode(int code, bool pause) {
    // Said last, where the user looks, since only a failed run keeps its log.
    if (code == 1 && logger_.wroteToFile())
        logger_.warning("The bootstrap log of this run is kept at : " + logger_.keptFile(), true);
    logger_.discardIfEmpty();
    if (pause && logger_.hadError() && platform_.consoleOwnedAlone()) {
        platform_.showConsoleWindow(true);
        std::printf("\nP L E A S E   P R E S S   E N T E R   T O   C L O S E   T H E   W I N D O W.\n");
        std::fflush(stdout);
        std::getchar();
    }
    logInfo("Exiting with code : " + std::to_string(code));
    std::fflush(stdout);
    std::exit(code);
}

int BootstrapContext::hideSystem(const std::string& command, bool detachProcess, bool discardOutput) {
    return runHidden(command, detachProcess, discardOutput, nullptr);
}

// With errorOutput, a run whose output is discarded keeps its standard error
// there instead; in console mode the output is on the console already.
int BootstrapContext::runHidden(const std::string& command, bool detachProcess, bool discardOutput,
                                std::string* errorOutput, std::optional<std::chrono::milliseconds> timeLimit) {
    logDebug(detachProcess ? "In hideSystem with detachProcess equal to true."
                           : "In hideSystem with detachProcess equal to false.");
    // Whatever the launcher printed must come before the child's output.
    std::fflush(stdout);
    std::fflush(stderr);
    const bool discard = discardOutput && !consoleMode;
    ProcessOutcome outcome = timeLimit ? platform_.runProcessWithin(command, discard, *timeLimit)
                             : errorOutput != nullptr && discard && !detachProcess
                                 ? platform_.runProcessKeepingErrors(command, errorOutputLimit, *errorOutput)
                                 : platform_.runProcess(command, detachProcess, discard);
    if (outcome.timedOut) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(*timeLimit).count();
        logInfo("The command did not end within " + std::to_string(seconds) +
                " seconds and was stopped with the programs it started : " + command);
    }
    lastCommandStarted_ = outcome.completed || outcome.timedOut;
    if (!outcome.completed) {
        logDebug("Failed to execute command : " + command);
        return 1;
    }
    logDebug("Return code from process : " + std::to_string(outcome.exitCode));
    return outcome.exitCode;
}

bool BootstrapContext::executeCommand(const std::string& command, bool detachProcess) {
    return executeCommand(command, detachProcess, nullptr);
}

bool BootstrapContext::executeCommandKeepingErrors(const std::string& command, std::string& errorOutput) {
    errorOutput.clear();
    return executeCommand(command, false, &errorOutput);
}

bool BootstrapContext::executeCommandQuietly(const std::string& command, std::chrono::milliseconds timeLimit) {
    return executeCommand(command, false, nullptr, false, timeLimit);
}

bool BootstrapContext::executeCommand(const std::string& command, bool detachProcess, std::string* errorOutput,
                                      bool failureIsError, std::optional<std::chrono::milliseconds> timeLimit) {
    lastResult = -1;
    logInfo("Executing command  : " + command);
    lastResult = runHidden(command, detachProcess, true, errorOutput, timeLimit);
    logDebug("Executed command  : " + command);
    if (lastResult >= 256) lastResult >>= 8;
    if (lastResult == 1) {
        const std::string failure = "Process failed to execute successfully. Return code was : " + std::to_string(lastResult);
        // The code alone does not tell the user which of the run's programs to look at.
        const std::string program = programName(command);
        const std::string which = lastCommandStarted_ ? "The program that failed is " + program + "."
                                                      : "The program " + program + " could not be started.";
        if (failureIsError) {
            logError(failure);
            logError(which);
        } else {
            logInfo(failure);
            logInfo(which);
        }
        return false;
    }
    logInfo("Process returned successfully.");
    return true;
}

void BootstrapContext::reboot() {
    logInfo("Initiating reboot. Please wait. . .");
    logDebug("Setting privilege for reboot: SE_SHUTDOWN_NAME.");
    ShutdownRight right = platform_.acquireShutdownRight();
    if (!right.tokenOpened) logDebug("Failed to open process token. Privilege has not been set.");
    if (!right.privilegeFound)
        logDebug("Failed to look-up privilege value for privilege SE_SHUTDOWN_NAME. Privilege has not been set.");
    if (!right.tokenOpened || !right.privilegeFound) {
        logError("Failed to set privilege SE_SHUTDOWN_NAME. Reboot will not be performed.");
        return;
    }
    // Not silent on failure: the installer asked for a restart the user must then do by hand.
    if (!platform_.restartMachine()) logError("The reboot could not be started. Please restart the machine.");
}

void BootstrapContext::showConsole() {
    logDebug("In showConsole method");
    if (platform_.consoleOwnedAlone()) platform_.showConsoleWindow(true);
}

void BootstrapContext::freeConsole() {
    logDebug("In freeConsole method");
    if (platform_.consoleOwnedAlone()) platform_.showConsoleWindow(false);
}

std::string BootstrapContext::getExecutableName(std::size_t bufferSize) {
    logInfo("Retrieving the executable name.");
    std::string path = platform_.executablePath();
    if (bufferSize > 0 && path.size() > bufferSize - 1) path.resize(bufferSize - 1);
    return path;
}

std::string BootstrapContext::getAbsolutePath(const std::string& path) {
    logDebug("In getAbsolutePath method.");
    if (platform_.isAbsolutePath(path)) return path;
    std::optional<std::string> current = platform_.currentDirectory();
    // A current directory beyond the 1000-character buffer cannot be read;
    // the path is then left as it is rather than joined to a cut one.
    if (!current || current->size() > 1000) return path;
    return *current + pathSeparator + path;
}

std::string BootstrapContext::installerPath() {
    const std::size_t moduleNameBuffer = 499;
    return getAbsolutePath(getExecutableName(moduleNameBuffer));
}

bool BootstrapContext::changeDirectory(const std::string& directory) {
    logInfo("Changing current directory to : " + directory);
    lastResult = platform_.changeDirectory(directory);
    return lastResult == 0;
}

bool BootstrapContext::enterPrivateDirectory(const std::string& directory) {
    logInfo("Changing current directory to : " + directory);
    lastResult = platform_.enterPrivateDirectory(directory) ? 0 : -1;
    return lastResult == 0;
}

bool BootstrapContext::createDirectory(const std::string& directory) {
    logInfo("Creating directory : " + directory);
    lastResult = platform_.createDirectory(directory);
    return lastResult == 0;
}

bool BootstrapContext::setEnvironmentVariable(const std::string& assignment) {
    logInfo("Setting the following environment variable : " + assignment);
    lastResult = platform_.putEnvironment(assignment);
    return lastResult == 0;
}

void BootstrapContext::setExitCode(int code) {
    exitCode = code;
    logInfo("Exit code set to : " + std::to_string(code));
}

} // namespace talve
