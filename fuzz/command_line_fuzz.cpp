// Quoting and splitting must agree on every argument vector: what the launcher
// composes for a child is what the child reads back.
#include "fuzz_input.h"
#include "platform/command_line.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const talve::fuzz::SplitInput input = talve::fuzz::splitAtNul(data, size);
    std::vector<std::string> arguments{input.head};
    arguments.insert(arguments.end(), input.rest.begin(), input.rest.end());

    std::string commandLine;
    for (const std::string& argument : arguments) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += talve::quoteArgument(argument);
    }
    if (talve::splitCommandLine(commandLine) != arguments) std::abort();

    // Any text at all splits without fault.
    talve::splitCommandLine(input.head);
    return 0;
}
