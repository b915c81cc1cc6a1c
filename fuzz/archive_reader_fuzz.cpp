// Any bytes as a packed runtime for talve-unpack: the index reader walks the
// whole archive before anything is written, so it alone meets damaged input.
#include "archive_reader.h"
#include "fuzz_input.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = talve::fuzz::writeScratchFile(data, size);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    talve::archive::ArchiveIndex index;
    std::string error;
    talve::archive::readArchiveIndex(file, size, index, error);
    std::fclose(file);
    return 0;
}
