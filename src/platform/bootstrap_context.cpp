#include "platform/bootstrap_context.h"

namespace talve {

BootstrapContext::BootstrapContext(Platform& platform)
    : platform_(platform), logger_(Logger::WARNING) {
    const PlatformConventions& conventions = platform_.conventions();
    pathSeparator = conventions.pathSeparator;
    consoleMode = platform_.getEnvironment("KORVU_CONSOLE_DEBUG").has_value();
    logger_.setFileOpener([this](const std::string& path) { return platform_.openLogFile(path); });
}

BootstrapContext::~BootstrapContext() { releaseTemporaryDirectoryLock(); }

std::string BootstrapContext::environmentValue(const std::string& name) {
    return platform_.getEnvironment(name).value_or(std::string());
}

bool BootstrapContext::hasEnvironment(const std::string& name) {
    return platform_.getEnvironment(name).has_value();
}

} // namespace talve
