#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"
#include "splash/splash_runner.h"

namespace talve {

int JarExtractor::launchSplashScreen() {
    context_.logInfo("In JarExtractor::launchSplashScreen method");
    if (context_.silentMode || !context_.splashEnabled) return 0;

    const std::string& tempDir = context_.tempDir;
    const std::int32_t free = context_.getDiskSpace(tempDir);
    const BootstrapEntry& splash = entries_[table::splashEntry];
    if (!splash.present()) return 0;
    const std::int64_t needed = megabytesOf(splash.diskspace) + 1;
    if (free < needed) {
        context_.logError("There is not enough space in " + tempDir + " to launch the installer.");
        context_.logError("The actual free space is " + std::to_string(free) + " Mb but the needed space is " +
                          std::to_string(needed) + " Mb.");
        return 1;
    }
    context_.logInfo("There is actually " + std::to_string(free) + " Mb of free space in \"" + tempDir + "\"");
    context_.logInfo(std::to_string(needed) + " Mb of space will be used for the splash screen.");

    if (!extractFile(splash.position, splash.length, splash.filename)) return 1;

    // A bare name: the current directory is the temporary directory.
    splashRunner_ = std::make_unique<SplashRunner>(context_.platform(), splash.filename, "Unpacking data...",
                                                   "TALVE Installer");
    switch (splashRunner_->waitForWindow()) {
    case 0:
        return 0;
    case 2:
        context_.logWarning(splashRunner_->getErrorMessage());
        if (const std::string detail = splashRunner_->getErrorDetail(); !detail.empty())
            context_.logDebug("The splash window was not created " + detail);
        return 0;
    default:
        context_.logError("Unknown error from splashrunner");
        return 1;
    }
}

} // namespace talve
