#include "platform/bootstrap_context.h"

namespace talve {

void BootstrapContext::checkNetworkLaunch() {
    std::optional<std::string> current = platform_.currentDirectory();
    // A UNC current directory cannot be used by the command interpreter or the installer.
    if (!current || current->compare(0, 2, "\\\\") != 0) return;
    logWarning("The installer has been launched from a network location.");
    logWarning("As UNC paths are not supported as current working directories, the current working directory "
               "will be set to the user home directory.\n");
    changeDirectory(environmentValue("USERPROFILE"));
}

bool BootstrapContext::checkOtherInstances() {
    logInfo("Checking for other instances.");
    if (multipleInstances) return true;
    // The machine-wide lock is not taken yet: every run may go on.
    return true;
}

} // namespace talve
