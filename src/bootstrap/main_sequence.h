#pragma once

namespace talve {

class BootstrapContext;

// The whole run, in its fixed order, from the console check to the final
// exit with the installer's code. Never returns: every path ends in
// BootstrapContext::exitWithCode.
[[noreturn]] void runBootstrap(BootstrapContext& context, int argc, char** argv);

} // namespace talve
