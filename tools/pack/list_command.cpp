#include "list_command.h"

#include "output_file.h"
#include "payload/bootstrap_table_format.h"
#include "signature.h"
#include "table_codec.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

namespace talve {
namespace pack {

namespace {
const char* const listUsage =
    "Usage: talve-pack list FILE\n"
    "Prints the bootstrap table of an installer: one row per line with its index, id,\n"
    "position, length, diskspace, file name, data1 and data2; then whether the file\n"
    "is signed, where its certificate table lies and whether every payload lies in\n"
    "the signed part before it.\n";

// The launcher refuses a payload that reaches into the certificate table.
int showSignature(const std::string& path, const TableLocation& location) {
    std::string bytes, problem;
    Signature signature;
    if (!files::readRegularFile(std::filesystem::u8path(path), std::numeric_limits<std::uint32_t>::max(), bytes,
                                problem) ||
        !readSignature(bytes, signature, problem)) {
        std::printf("signature: damaged\n");
        std::fprintf(stderr, "talve-pack: %s: %s\n", path.c_str(), problem.c_str());
        return 1;
    }
    if (!signature.signedFile) {
        std::printf("signature: none\n");
        return 0;
    }
    std::printf("signature: certificate table at offset %u, %u bytes\n", signature.table.offset,
                signature.table.size);
    const std::uint64_t tableEnd = location.markerOffset + table::markerSize + location.entries.size() * table::entrySize;
    std::string outside = tableEnd > signature.table.offset ? "the bootstrap table" : "";
    for (const BootstrapEntry& row : location.entries) {
        if (outside.empty() && row.present() &&
            static_cast<std::uint64_t>(row.position) + row.length > signature.table.offset)
            outside = "the " + row.id + " payload";
    }
    if (outside.empty()) {
        std::printf("every payload lies in the signed part\n");
        return 0;
    }
    std::printf("%s lies outside the signed part\n", outside.c_str());
    std::fprintf(stderr, "talve-pack: %s: %s lies outside the signed part; the launcher refuses it\n", path.c_str(),
                 outside.c_str());
    return 1;
}
} // namespace

int runListCommand(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(listUsage, stdout);
        return 0;
    }
    if (argc != 2) {
        std::fputs(listUsage, stderr);
        return 2;
    }
    const std::string path = argv[1];
    std::string error;
    std::optional<TableLocation> location = findTable(path, error);
    if (!location) {
        std::fprintf(stderr, "talve-pack: %s\n", error.c_str());
        return 1;
    }
    std::error_code ignored;
    const std::uintmax_t size = std::filesystem::file_size(path, ignored);
    std::printf("table at offset %llu of %s\n", static_cast<unsigned long long>(location->markerOffset), path.c_str());
    std::printf("%-5s %-8s %10s %10s %10s %-12s %-16s %s\n", "index", "id", "position", "length", "diskspace",
                "filename", "data1", "data2");
    int status = 0;
    for (std::size_t i = 0; i < location->entries.size(); ++i) {
        const BootstrapEntry& row = location->entries[i];
        std::printf("%-5zu %-8s %10u %10u %10u %-12s %-16s %s\n", i, row.id.c_str(), row.position, row.length,
                    row.diskspace, row.filename.c_str(), row.data1.c_str(), row.data2.c_str());
        if (row.present() && static_cast<std::uintmax_t>(row.position) + row.length > size) {
            std::fprintf(stderr, "talve-pack: %s: the %s payload lies beyond the end of the file\n", path.c_str(),
                         row.id.c_str());
            status = 1;
        }
    }
    if (showSignature(path, *location) != 0) status = 1;
    if (!location->complete) {
        std::fprintf(stderr, "talve-pack: %s: the bootstrap table is cut short by the end of the file\n", path.c_str());
        status = 1;
    }
    return status;
}

} // namespace pack
} // namespace talve
