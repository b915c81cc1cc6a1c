#include "platform/bootstrap_context.h"

namespace talve {

namespace {
const char* const instanceLockName = "TALVEMeridonInstaller";
} // namespace

void BootstrapContext::checkNetworkLaunch() {
    const PlatformConventions& conventions = platform_.conventions();
    std::optional<std::string> current = platform_.currentDirectory();
    // A network current directory cannot be used by the command interpreter or the installer.
    if (!current || conventions.networkPathPrefix.empty() || current->compare(0, conventions.networkPathPrefix.size(),
                                                                              conventions.networkPathPrefix) != 0)
        return;
    logWarning("The installer has been launched from a network location.");
    logWarning("As UNC paths are not supported as current working directories, the current working directory "
               "will be set to the user home directory.\n");
    changeDirectory(environmentValue(conventions.homeVariable));
}

bool BootstrapContext::checkOtherInstances() {
    logInfo("Checking for other instances.");
    if (multipleInstances) {
        cleanUpOnInterruption();
        return true;
    }
    if (!lockInstance()) return true;
    logError("An installer is already running.");
    return false;
}

bool BootstrapContext::lockInstance() {
    logInfo("Checking if an installer is already launched.");
    switch (platform_.takeInstanceLock(instanceLockName)) {
    case InstanceLockResult::Unavailable: {
        logError("Error while creating mutex.");
        // Anybody may put something in the lock's place: say what, since
        // the refusal that follows reads as if an installer were running.
        const std::string problem = platform_.instanceLockProblem();
        if (!problem.empty()) logError(problem);
        return true;
    }
    case InstanceLockResult::HeldElsewhere:
        logError("An instance of this installer has already been launched.");
        logError("Only one instance of the installer can be running at the same time.");
        return true;
    case InstanceLockResult::Taken:
        break;
    }
    // The run stops on each failure below: the lock is given back at once
    // rather than held until the process ends.
    if (!platform_.installInterruptHandler([this] {
            noteInterruption();
            releaseInstance();
            logger_.discardIfEmpty();
        })) {
        logError("Failed to set Handler (CTRL-C).");
        platform_.releaseInstanceLock();
        return true;
    }
    if (!platform_.confirmInstanceLock()) {
        logError("Failed to lock the resource !\n");
        platform_.releaseInstanceLock();
        return true;
    }
    platform_.runAtExit([this] { releaseInstance(); });
    instanceLockHeld_ = true;
    return false;
}

// Runs side by side with others still remove their directory when
// interrupted or ended early; only the machine-wide lock stays off.
void BootstrapContext::cleanUpOnInterruption() {
    if (!platform_.installInterruptHandler([this] {
            noteInterruption();
            cleanUp();
            logger_.discardIfEmpty();
        })) {
        logWarning("Failed to set Handler (CTRL-C).");
        return;
    }
    platform_.runAtExit([this] { cleanUp(); });
}

// The run ends without its last steps, and its log stays: the log says why
// it stops there.
void BootstrapContext::noteInterruption() {
    logWarning("The run was interrupted before the installation ended; its temporary directory is removed.");
}

// Called by the interruption handler and by the exit handler, never both at
// once: the platform stops the exiting thread when an interruption is under
// way and ignores interruptions once the exit has begun.
void BootstrapContext::releaseInstance() {
    if (!instanceLockHeld_.exchange(false)) return;
    cleanUp();
    platform_.releaseInstanceLock();
}

} // namespace talve
