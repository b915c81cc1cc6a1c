#include "create_command.h"
#include "list_command.h"
#include "runtime_command.h"
#include "value_commands.h"
#include "verify_signed_command.h"

#include <cstdio>
#include <cstring>

namespace {
const char* const usage =
    "Usage: talve-pack COMMAND [options]\n"
    "Builds and inspects installers of the talve launcher.\n"
    "\n"
    "Commands:\n"
    "  create   build an installer from the launcher and its payloads\n"
    "  list     show the bootstrap table of an installer\n"
    "  runtime  pack a Java runtime directory into a self-extracting packed runtime\n"
    "  encrypt  protect a property value for a silent or record file\n"
    "  decrypt  show the text of a protected property value\n"
    "  check-silent  check a silent file as the launcher does\n"
    "  verify-signed  check that a signed installer is the unsigned one plus a signature\n"
    "\n"
    "'talve-pack COMMAND --help' describes a command; 'talve-pack --version' names this version.\n";
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 || std::strcmp(command, "help") == 0) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::fputs("talve-pack " TALVE_VERSION "\n", stdout);
        return 0;
    }
    if (std::strcmp(command, "create") == 0) return talve::pack::runCreateCommand(argc - 1, argv + 1);
    if (std::strcmp(command, "list") == 0) return talve::pack::runListCommand(argc - 1, argv + 1);
    if (std::strcmp(command, "runtime") == 0) return talve::runRuntimeCommand(argc, argv);
    if (std::strcmp(command, "encrypt") == 0) return talve::pack::runEncryptCommand(argc - 1, argv + 1);
    if (std::strcmp(command, "decrypt") == 0) return talve::pack::runDecryptCommand(argc - 1, argv + 1);
    if (std::strcmp(command, "verify-signed") == 0) return talve::pack::runVerifySignedCommand(argc - 1, argv + 1);
    if (std::strcmp(command, "check-silent") == 0) return talve::pack::runCheckSilentCommand(argc - 1, argv + 1);
    std::fprintf(stderr, "talve-pack: unknown command '%s'\n%s", command, usage);
    return 2;
}
