#include "runtime_command.h"

#include "runtime_archive.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace talve {
namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: talve-pack runtime DIR -o FILE [--unpacker STUB] [--compression zstd|deflate] [--level N]\n"
    "\n"
    "Packs the Java runtime in folder DIR (for example one made by jlink) into\n"
    "FILE, a program that unpacks it into _jvm in its current directory when\n"
    "run with -o. Adds a jvm.properties naming bin/java (bin/java.exe for a\n"
    "Windows runtime) when DIR has none.\n"
    "\n"
    "  -o FILE           the packed runtime to write\n"
    "  --unpacker STUB   the talve-unpack program to put in front; by default\n"
    "                    talve-unpack next to this talve-pack, and for a Windows\n"
    "                    runtime talve-unpack.exe next to it or in the kit's\n"
    "                    lib/talve/windows (/usr/lib/talve/windows/talve-unpack.exe)\n"
    "  --compression C   zstd (the default: smaller, and large files unpack on\n"
    "                    all cores) or deflate (what earlier versions wrote)\n"
    "  --level N         zstd level, 1 (fastest) to 22 (smallest); default 19\n"
    "  --help            this text\n"
    "\n"
    "Prints the unpacked size in bytes on standard output: the value for\n"
    "talve-pack create --runtime-size. Exit code 0 done, 1 failed, 2 wrong\n"
    "arguments.\n";

struct RuntimeOptions {
    std::string runtimeDir;
    std::string output;
    std::string unpacker;
    RuntimeCompression compression;
    bool levelGiven = false;
    bool help = false;
};

bool parseLevel(const std::string& text, int& level) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    level = std::stoi(text);
    return level >= RuntimeCompression::kMinZstdLevel && level <= RuntimeCompression::kMaxZstdLevel;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "talve-pack runtime: %s\n(see talve-pack runtime --help)\n", message.c_str());
    return 2;
}

// Returns 0 when the options were understood, else the exit code.
int parseOptions(int argc, char** argv, RuntimeOptions& options) {
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "-o" || arg == "--unpacker") {
            if (i + 1 >= argc) return usageError(arg + " needs a file name");
            (arg == "-o" ? options.output : options.unpacker) = argv[++i];
        } else if (arg == "--compression") {
            if (i + 1 >= argc) return usageError("--compression needs zstd or deflate");
            const std::string codec = argv[++i];
            if (codec == "zstd") {
                options.compression.codec = archive::Codec::Zstd;
            } else if (codec == "deflate") {
                options.compression.codec = archive::Codec::Deflate;
            } else {
                return usageError("unknown compression " + codec + " (zstd or deflate)");
            }
        } else if (arg == "--level") {
            if (i + 1 >= argc || !parseLevel(argv[i + 1], options.compression.zstdLevel)) {
                return usageError("--level needs a zstd level from 1 to 22");
            }
            options.levelGiven = true;
            ++i;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("unknown option " + arg);
        } else if (options.runtimeDir.empty()) {
            options.runtimeDir = arg;
        } else {
            return usageError("only one runtime folder can be packed, got " + options.runtimeDir + " and " + arg);
        }
    }
    if (options.help) return 0;
    if (options.runtimeDir.empty()) return usageError("no runtime folder given");
    if (options.output.empty()) return usageError("no output file given (-o FILE)");
    if (options.levelGiven && options.compression.codec != archive::Codec::Zstd) {
        return usageError("--level applies to zstd only");
    }
    return 0;
}

// Where this talve-pack lies: argv[0] as typed, or found along PATH when it
// names no folder.
fs::path ownProgram(const char* argv0) {
    const fs::path typed = fs::u8path(argv0 != nullptr ? argv0 : "");
    if (typed.has_parent_path()) return typed;
    const char* path = std::getenv("PATH");
    if (path == nullptr) return typed;
    const char listSeparator = fs::path::preferred_separator == '\\' ? ';' : ':';
    const std::string folders = path;
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(listSeparator, start);
        if (end == std::string::npos) end = folders.size();
        const fs::path candidate = fs::u8path(folders.substr(start, end - start)) / typed;
        std::error_code ec;
        if (end > start && fs::is_regular_file(candidate, ec)) return candidate;
        start = end + 1;
    }
    return typed;
}

bool isWindowsRuntime(const std::string& runtimeDir) {
    std::error_code ec;
    return fs::is_regular_file(fs::u8path(runtimeDir) / "bin" / "java.exe", ec);
}

// Where the unpacker of the runtime's system may lie, most likely first:
// beside this program (a build folder, the Windows-host kit), then where
// the installed kit keeps the Windows stubs.
std::vector<fs::path> unpackerCandidates(const char* argv0, bool windowsRuntime) {
    const fs::path folder = ownProgram(argv0).parent_path();
    if (!windowsRuntime) return {folder / "talve-unpack"};
    const fs::path installed = fs::path("lib") / "talve" / "windows" / "talve-unpack.exe";
    return {folder / "talve-unpack.exe", folder.parent_path() / installed, fs::path("/usr") / installed};
}

} // namespace

int runRuntimeCommand(int argc, char** argv) {
    RuntimeOptions options;
    if (const int code = parseOptions(argc, argv, options)) return code;
    if (options.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (options.unpacker.empty()) {
        const bool windowsRuntime = isWindowsRuntime(options.runtimeDir);
        const std::vector<fs::path> candidates = unpackerCandidates(argc > 0 ? argv[0] : nullptr, windowsRuntime);
        for (const fs::path& candidate : candidates) {
            std::error_code ec;
            if (fs::is_regular_file(candidate, ec)) {
                options.unpacker = candidate.u8string();
                break;
            }
        }
        if (options.unpacker.empty()) {
            std::string tried;
            for (const fs::path& candidate : candidates) tried += (tried.empty() ? "" : ", ") + candidate.u8string();
            std::fprintf(stderr, "talve-pack runtime: no %s unpacker found (looked for %s); give one with --unpacker STUB\n",
                         windowsRuntime ? "Windows" : "Linux", tried.c_str());
            return 1;
        }
    }

    std::uint64_t unpackedBytes = 0;
    std::string error;
    if (!writePackedRuntime(options.runtimeDir, options.unpacker, options.output, unpackedBytes, error,
                            options.compression)) {
        std::fprintf(stderr, "talve-pack runtime: %s\n", error.c_str());
        return 1;
    }
    std::printf("%llu\n", static_cast<unsigned long long>(unpackedBytes));
    return 0;
}

} // namespace talve
