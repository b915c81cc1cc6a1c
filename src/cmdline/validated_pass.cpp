#include "platform/bootstrap_context.h"

namespace talve {

// Command lines are not checked against a carried specification yet; they
// take the plain pass.
bool BootstrapContext::processValidatedArguments(int argc, char** argv, const std::string&) {
    return processArguments(argc, argv);
}

} // namespace talve
