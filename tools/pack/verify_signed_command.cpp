#include "verify_signed_command.h"

#include "output_file.h"
#include "signature.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

namespace talve {
namespace pack {

namespace {
const char* const verifyUsage =
    "Usage: talve-pack verify-signed UNSIGNED SIGNED\n"
    "Checks that SIGNED is UNSIGNED plus a signature and nothing else: only the\n"
    "checksum, the Security directory entry, the padding before the certificate\n"
    "table and the table itself may differ. Exit code 0 when so, 1 with the first\n"
    "offset where the files differ otherwise, 2 on wrong arguments.\n";
} // namespace

int runVerifySignedCommand(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(verifyUsage, stdout);
        return 0;
    }
    if (argc != 3) {
        std::fputs(verifyUsage, stderr);
        return 2;
    }
    std::string files[2];
    for (int i = 0; i < 2; ++i) {
        std::string error;
        if (!files::readRegularFile(std::filesystem::u8path(argv[i + 1]), std::numeric_limits<std::uint32_t>::max(),
                                    files[i], error)) {
            std::fprintf(stderr, "talve-pack verify-signed: %s\n", error.c_str());
            return 1;
        }
    }
    std::uint64_t differsAt = 0;
    std::string why;
    if (!isSameProgramSigned(files[0], files[1], differsAt, why)) {
        std::fprintf(stderr, "talve-pack verify-signed: %s is not %s plus a signature: %s at offset %llu\n", argv[2],
                     argv[1], why.c_str(), static_cast<unsigned long long>(differsAt));
        return 1;
    }
    Signature signature;
    readSignature(files[1], signature, why);
    std::printf("%s is %s plus a signature (certificate table at offset %u, %u bytes)\n", argv[2], argv[1],
                signature.table.offset, signature.table.size);
    return 0;
}

} // namespace pack
} // namespace talve
