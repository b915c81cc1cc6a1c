#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace talve {
namespace fuzz {

std::string writeScratchFile(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/talve-fuzz-" +
               std::to_string(::getpid()) + ".bin";
    }();
    static const bool removedAtExit = [] { return std::atexit([] { std::remove(path.c_str()); }) == 0; }();
    (void)removedAtExit;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path;
}

std::FILE* quietConsole() {
    static std::FILE* const sink = std::fopen("/dev/null", "w");
    return sink;
}

} // namespace fuzz
} // namespace talve
