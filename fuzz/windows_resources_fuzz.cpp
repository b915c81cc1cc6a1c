// Any bytes as an icon file given to talve-pack create --icon, and as a
// launcher whose resource tree is read and written back: neither reader may
// read outside its input, and what one reads the writer must take.
#include "icon_file.h"
#include "pe_resources.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<talve::pack::Resource> resources;
    std::string problem;
    talve::pack::iconResources(bytes, resources, problem);
    if (talve::pack::readResources(bytes, resources, problem)) {
        std::string program = bytes;
        talve::pack::replaceResources(program, resources, problem);
    }
    return 0;
}
