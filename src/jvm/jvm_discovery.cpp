#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"

namespace talve {

// Runtimes left by earlier installations are not looked for yet: every
// search comes back empty, and the carried runtime is unpacked.
bool JarExtractor::getJVMLocation(std::string& location) {
    context_.logDebug("In JarExtractor::getJVMLocation method");
    return getJvmFromProductHome(location);
}

bool JarExtractor::getJvmFromProductHome(std::string&) {
    context_.logDebug("In JarExtractor::getJvmFromProductHome method");
    return false;
}

bool JarExtractor::getJvmFromDir(std::string&, const char* directory) {
    context_.logDebug("In JarExtractor::getJvmFromDir method");
    if (directory == nullptr) return false;
    return false;
}

} // namespace talve
