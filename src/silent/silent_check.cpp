#include "platform/bootstrap_context.h"

namespace talve {

// The silent properties file is not examined yet; the installer jar reads it.
bool BootstrapContext::checkSilentFile() { return true; }

} // namespace talve
