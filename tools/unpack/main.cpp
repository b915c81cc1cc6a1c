// talve-unpack: the self-extracting packed Java runtime. The launcher runs
// it as "./<name> -o" in its temporary directory; it unpacks the archive
// appended to its own file into "_jvm" there.

#include "archive_format.h"
#include "native.h"
#include "runtime_unpacker.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "talve-unpack: %s\n", message.c_str());
    return 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: talve-unpack -o   unpack the Java runtime into _jvm in the current directory\n"
                 "       talve-unpack -l   list the runtime's contents\n");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return usage();
    const bool unpack = std::strcmp(argv[1], "-o") == 0;
    const bool list = std::strcmp(argv[1], "-l") == 0;
    if (!unpack && !list) return usage();

    const std::string self = talve::unpack::ownExecutablePath();
    if (self.empty()) return fail("cannot find its own file to read the runtime from");

    std::string error;
    if (list) {
        std::string listing;
        if (!talve::unpack::listRuntime(self, listing, error)) return fail(error);
        std::fputs(listing.c_str(), stdout);
        return 0;
    }
    // Relative, so that the current directory's name never has to pass
    // through a narrow-character conversion.
    if (!talve::unpack::unpackRuntime(self, talve::archive::kUnpackFolder, error)) return fail(error);
    return 0;
}
