#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"
#include "splash/splash_runner.h"

namespace talve {

int JarExtractor::launchSplashScreen() {
    context_.logInfo("In JarExtractor::launchSplashScreen method");
    if (context_.silentMode || !context_.splashEnabled) return 0;
    // No splash window is drawn yet; the installation goes on without one.
    return 0;
}

} // namespace talve
