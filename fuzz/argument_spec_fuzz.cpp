// The argument specification comes from the installer file and the argument
// vector from whoever starts it: input: specification text, NUL, arguments
// separated by NULs.
#include "cmdline/argument_validator.h"
#include "cmdline/spec_reader.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const talve::fuzz::SplitInput input = talve::fuzz::splitAtNul(data, size);

    talve::SpecReader reader(input.head);
    // Each call takes at least one line, so this reads to the end past any bad line.
    for (std::size_t calls = 0; calls <= input.head.size(); ++calls) reader.next();

    talve::ArgumentValidator validator(input.head);
    std::vector<const char*> argv{"setup"};
    for (const std::string& argument : input.rest) argv.push_back(argument.c_str());
    validator.validate(static_cast<int>(argv.size()), argv.data());
    for (const std::string& argument : input.rest) validator.findParameter(argument);
    return 0;
}
