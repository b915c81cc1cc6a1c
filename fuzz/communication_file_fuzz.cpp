// The communication file is written by the installer jar; its "?{key}?"
// references are expanded on lookup, where a reference to itself or a chain
// of them must still end. Input: file text, NUL, keys to look up.
#include "bootstrap/property_map.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const talve::fuzz::SplitInput input = talve::fuzz::splitAtNul(data, size);
    for (bool crLf : {false, true}) {
        talve::PropertyMap properties;
        properties.load(input.head, crLf);
        for (const std::string& key : input.rest) properties.get(key);
        properties.get("SYSTEM_EXIT_CODE");
    }
    return 0;
}
