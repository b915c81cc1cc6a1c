#include "bootstrap/main_sequence.h"
#include "platform/bootstrap_context.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // The platform comes first: on Windows it also restricts where DLLs may be loaded from.
    static std::unique_ptr<talve::Platform> platform = talve::makeSystemPlatform();
    static talve::BootstrapContext context(*platform);
    talve::runBootstrap(context, argc, argv);
}
