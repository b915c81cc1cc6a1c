#include "list_command.h"

#include "table_codec.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace talve {
namespace pack {

namespace {
const char* const listUsage =
    "Usage: talve-pack list FILE\n"
    "Prints the bootstrap table of an installer: one row per line with its index, id,\n"
    "position, length, diskspace, file name, data1 and data2.\n";
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
    if (!location->complete) {
        std::fprintf(stderr, "talve-pack: %s: the bootstrap table is cut short by the end of the file\n", path.c_str());
        status = 1;
    }
    return status;
}

} // namespace pack
} // namespace talve
