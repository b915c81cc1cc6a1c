#include "bootstrap/main_sequence.h"
#include "platform/bootstrap_context.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // The platform comes first: on Windows it also restricts where DLLs may be loaded from.
    // Neither is ever destroyed: the run ends in exit(), while the exit and
    // interruption handlers may still use them.
    talve::Platform* platform = talve::makeSystemPlatform().release();
    auto* context = new talve::BootstrapContext(*platform);
    talve::runBootstrap(*context, argc, argv);
}
