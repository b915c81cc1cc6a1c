#include "create_command.h"
#include "packed_runtime_size.h"

#include "args_spec_merge.h"
#include "default_usage.h"
#include "entry_path.h"
#include "installer_writer.h"
#include "launcher_stub.h"
#include "output_file.h"
#include "payload/bootstrap_table_format.h"
#include "signature.h"
#include "stored_names.h"
#include "table_codec.h"
#include "windows_resources.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace talve {
namespace pack {

namespace fs = std::filesystem;

namespace {

const char* const createUsage =
    "Usage: talve-pack create -o OUT --launcher STUB [options]\n"
    "Builds an installer: the launcher STUB, padded to a multiple of 1,024 bytes,\n"
    "followed by the bootstrap table and the payloads.\n"
    "\n"
    "Payloads (each stored under its base name, at most 12 characters, except\n"
    "the checking jar and the requirement file, always check.jar and req.txt):\n"
    "  --splash FILE            splash image shown while unpacking\n"
    "  --runtime FILE           packed Java runtime (made by 'talve-pack runtime')\n"
    "  --runtime-size BYTES     disk space the runtime needs once unpacked; read from\n"
    "                           the runtime when 'talve-pack runtime' packed it\n"
    "  --jar FILE               installer jar (required)\n"
    "  --jar-name NAME          store the installer jar as NAME\n"
    "  --data FILE              data jar\n"
    "  --data-name NAME         store the data jar as NAME\n"
    "  --usage FILE             text printed by -help (default: a line listing the\n"
    "                           launcher's options)\n"
    "  --check-jar FILE         jar that checks an installed Java runtime\n"
    "  --requirements FILE      requirement file read by the checking jar\n"
    "  --args-spec FILE         argument specification the command line is checked\n"
    "                           against (default: no check, as --no-validation);\n"
    "                           the launcher's own options are added to it unless\n"
    "                           it declares them\n"
    "  --no-validation          accept any command line\n"
    "Settings:\n"
    "  --console                run as if -console were given: the installer's\n"
    "                           output and prompts on the console\n"
    "  --allow-java-args        pass the user's -javaArgs text to the Java command\n"
    "  --extra-space-mb N       megabytes the installer needs in the temporary\n"
    "                           directory beyond its files (default 0)\n"
    "  --search-installed-runtime  reuse a runtime of an earlier installation\n"
    "                           before unpacking the carried one\n";

struct CreateOptions {
    std::string output;
    std::string launcher;
    std::string files[table::entryCount];
    std::string storedNames[table::entryCount]; // given with --jar-name, --data-name
    std::optional<std::uint64_t> runtimeSize;
    bool allowJavaArgs = false;
    bool searchInstalledRuntime = false;
    bool noValidation = false;
    bool console = false;
    std::string extraSpaceMb = "0";
    WindowsResourceOptions resources;
};

const char* const entryIds[table::entryCount] = {"splash", "jvm", "jar", "data", "usage", "jvmcheck", "require", "args"};
// The launcher runs the checking jar only as check.jar with req.txt, so
// those two are stored under these names whatever the files are called.
const char* const fixedNames[table::entryCount] = {nullptr, nullptr, nullptr, nullptr, nullptr, "check.jar", "req.txt", nullptr};

bool fail(const std::string& message) {
    std::fprintf(stderr, "talve-pack create: %s\n", message.c_str());
    return false;
}

// Folders, devices and pipes are refused; nothing larger than the table
// can address is read into memory.
bool readWhole(const std::string& path, std::string& content) {
    std::string error;
    if (!files::readRegularFile(fs::u8path(path), std::numeric_limits<std::uint32_t>::max(), content, error))
        return fail(error);
    return true;
}

// The output replaces what has its name: an input there would be lost.
bool checkOutputIsNoInput(const CreateOptions& options) {
    std::vector<std::string> inputs{options.launcher};
    if (!options.resources.icon.empty()) inputs.push_back(options.resources.icon);
    for (const std::string& file : options.files) {
        if (!file.empty()) inputs.push_back(file);
    }
    for (const std::string& input : inputs) {
        std::error_code ignored;
        if (fs::equivalent(fs::u8path(options.output), fs::u8path(input), ignored))
            return fail(options.output + ": is also the input " + input + "; give another output file");
    }
    return true;
}

bool isWholeNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

bool parseOptions(int argc, char** argv, CreateOptions& options) {
    static const struct {
        const char* name;
        int entry;
    } fileOptions[] = {
        {"--splash", table::splashEntry},         {"--runtime", table::jvmEntry},
        {"--jar", table::jarEntry},               {"--data", table::dataEntry},
        {"--usage", table::usageEntry},           {"--check-jar", table::jvmCheckingJarEntry},
        {"--requirements", table::requirementEntry}, {"--args-spec", table::argumentsEntry},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) return fail(option + " needs a value");
            target = argv[++i];
            return true;
        };
        bool matched = false;
        for (const auto& fileOption : fileOptions) {
            if (option != fileOption.name) continue;
            if (!value(options.files[fileOption.entry])) return false;
            matched = true;
        }
        if (matched) continue;
        std::string text;
        if (option == "-o" || option == "--output") {
            if (!value(options.output)) return false;
        } else if (option == "--jar-name") {
            if (!value(options.storedNames[table::jarEntry])) return false;
        } else if (option == "--data-name") {
            if (!value(options.storedNames[table::dataEntry])) return false;
        } else if (option == "--console") {
            options.console = true;
        } else if (option == "--launcher") {
            if (!value(options.launcher)) return false;
        } else if (option == "--runtime-size") {
            if (!value(text)) return false;
            if (!isWholeNumber(text)) return fail("--runtime-size takes a number of bytes, not '" + text + "'");
            options.runtimeSize = std::strtoull(text.c_str(), nullptr, 10);
        } else if (option == "--extra-space-mb") {
            if (!value(text)) return false;
            if (!isWholeNumber(text) || text.size() > 9) return fail("--extra-space-mb takes a number of megabytes, not '" + text + "'");
            options.extraSpaceMb = text;
        } else if (option == "--allow-java-args") {
            options.allowJavaArgs = true;
        } else if (option == "--search-installed-runtime") {
            options.searchInstalledRuntime = true;
        } else if (option == "--no-validation") {
            options.noValidation = true;
        } else if (isWindowsResourceOption(option)) {
            std::string problem;
            if (!value(text)) return false;
            if (!setWindowsResourceOption(options.resources, option, text, problem)) return fail(problem);
        } else {
            return fail("unknown option '" + option + "' (see talve-pack create --help)");
        }
    }
    if (options.output.empty()) return fail("no output file given (-o OUT)");
    if (options.launcher.empty()) return fail("no launcher stub given (--launcher STUB)");
    if (options.files[table::jarEntry].empty()) return fail("no installer jar given (--jar FILE)");
    if (options.noValidation && !options.files[table::argumentsEntry].empty())
        return fail("--args-spec and --no-validation exclude each other");
    if (!options.storedNames[table::dataEntry].empty() && options.files[table::dataEntry].empty())
        return fail("--data-name names a data jar; give it with --data FILE");
    return true;
}

// The launcher reads these two into buffers of a fixed size and, when one
// is too long, skips it: the command line would go unchecked or -help
// would show nothing.
bool fitsTheLauncher(std::size_t entry, const std::string& path, std::size_t size) {
    const std::size_t limit = entry == table::usageEntry       ? table::usageLimit
                              : entry == table::argumentsEntry ? table::argumentsLimit
                                                               : 0;
    if (limit == 0 || size < limit) return true;
    return fail(path + ": " + std::to_string(size) + " bytes, too long: the launcher reads " +
                (entry == table::usageEntry ? "a usage text" : "an argument specification") + " of less than " +
                std::to_string(limit) + " bytes");
}

// The name a payload is stored and extracted under; a refusal names the
// option that gave it, or the file.
bool storedName(const CreateOptions& options, std::size_t entry, std::string& name) {
    const std::string& path = options.files[entry];
    const std::string& given = options.storedNames[entry];
    name = fixedNames[entry] != nullptr ? fixedNames[entry] : !given.empty() ? given : fs::path(path).filename().string();
    const std::string problem = storedNameProblem(name);
    if (problem.empty()) return true;
    if (!given.empty()) return fail(std::string(entry == table::jarEntry ? "--jar-name" : "--data-name") + ": " + problem);
    const std::string hint = entry == table::jarEntry    ? "rename the file or give --jar-name NAME"
                             : entry == table::dataEntry ? "rename the file or give --data-name NAME"
                                                         : "rename the file";
    return fail(archive::printablePath(path) + ": " + problem + "; " + hint);
}

bool extractedToDisk(std::size_t entry) {
    return entry != table::usageEntry && entry != table::argumentsEntry;
}

// The launcher extracts these payloads side by side: two under one name
// would leave only the later one for the run.
bool storedNamesDiffer(const BootstrapEntry (&rows)[table::entryCount]) {
    for (std::size_t i = 0; i < table::entryCount; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (extractedToDisk(i) && extractedToDisk(j) && !rows[i].filename.empty() &&
                sameStoredName(rows[i].filename, rows[j].filename))
                return fail("the " + std::string(entryIds[j]) + " and " + entryIds[i] + " payloads would both be stored as '" +
                            rows[i].filename + "'; give one of them another name");
        }
    }
    return true;
}

bool buildInstaller(const CreateOptions& options) {
    if (!checkOutputIsNoInput(options)) return false;
    std::string stub;
    if (!readWhole(options.launcher, stub)) return false;
    std::string problem;
    if (!checkLauncherStub(stub, problem)) return fail(options.launcher + ": not a launcher: " + problem);
    std::string ignored;
    if (findTable(options.launcher, ignored))
        return fail(options.launcher + ": already carries a bootstrap table; give the bare launcher");
    // A signature inside an installer covers nothing and makes the signing
    // tools refuse or warn: the installer is what gets signed.
    bool stripped = false;
    if (!stripSignature(stub, stripped, problem))
        return fail(options.launcher + ": a damaged signature: " + problem + "; give the launcher as it was built");
    if (stripped)
        std::printf("%s: the launcher's signature is left out; sign the installer instead\n", options.launcher.c_str());
    const std::string resourceOption = options.resources.firstGiven();
    if (!resourceOption.empty()) {
        if (pe::readHeaders(stub).kind != pe::Kind::Image)
            return fail(options.launcher + ": " + resourceOption + " needs a Windows launcher (talve-launcher.exe)");
        WindowsResourceOptions resources = options.resources;
        if (!resources.icon.empty() && !readWhole(resources.icon, resources.iconBytes)) return false;
        if (!applyWindowsResources(stub, resources, fs::path(options.output).filename().string(), problem))
            return fail(problem);
    }

    PayloadSource payloads[table::entryCount];
    BootstrapEntry rows[table::entryCount];
    for (std::size_t i = 0; i < table::entryCount; ++i) {
        const std::string& path = options.files[i];
        if (path.empty()) continue;
        std::string name;
        if (!storedName(options, i, name)) return false;
        std::string shown = path;
        if (i == table::argumentsEntry) {
            // The argument specification is small and is rewritten, so it alone is read whole.
            std::string content;
            if (!readWhole(path, content)) return false;
            const std::size_t given = content.size();
            std::string why;
            if (!addLauncherOptions(content, why)) return fail(path + ": " + why);
            if (content.size() != given) shown += " with the launcher's own options added";
            payloads[i].setBytes(content);
        } else {
            std::string error;
            if (!payloads[i].openFile(path, std::numeric_limits<std::uint32_t>::max(), error)) return fail(error);
        }
        if (!fitsTheLauncher(i, shown, payloads[i].size())) return false;
        rows[i].filename = name;
    }
    if (!payloads[table::usageEntry].present()) {
        payloads[table::usageEntry].setBytes(defaultUsage);
        rows[table::usageEntry].filename = "usage.txt";
    }
    if (!storedNamesDiffer(rows)) return false;

    const std::uint64_t padded = (stub.size() + table::alignment - 1) / table::alignment * table::alignment;
    std::uint64_t position = padded + table::markerSize + table::entryCount * table::entrySize;
    std::uint64_t positions[table::entryCount] = {};
    for (std::size_t i = 0; i < table::entryCount; ++i) {
        if (!payloads[i].present()) continue;
        positions[i] = payloadStart(position);
        rows[i].id = entryIds[i];
        rows[i].position = static_cast<std::uint32_t>(positions[i]);
        rows[i].length = static_cast<std::uint32_t>(payloads[i].size());
        rows[i].diskspace = rows[i].length;
        position = positions[i] + payloads[i].size();
        if (position > std::numeric_limits<std::uint32_t>::max())
            return fail("the installer would exceed 4 GiB, beyond what its table can address");
    }
    BootstrapEntry& jvm = rows[table::jvmEntry];
    if (payloads[table::jvmEntry].present()) {
        std::optional<std::uint64_t> runtimeSize = options.runtimeSize;
        std::string why;
        if (!runtimeSize)
            runtimeSize = unpackedSizeOfPackedRuntime(payloads[table::jvmEntry].file(), payloads[table::jvmEntry].size(), why);
        if (!runtimeSize)
            return fail(options.files[table::jvmEntry] + ": not a packed runtime made by 'talve-pack runtime' (" +
                        why + "); give --runtime-size: the bytes the runtime needs once unpacked");
        if (*runtimeSize > std::numeric_limits<std::uint32_t>::max())
            return fail("--runtime-size exceeds 4 GiB, beyond what the table can hold");
        jvm.diskspace = static_cast<std::uint32_t>(*runtimeSize);
    }
    if (options.searchInstalledRuntime) {
        jvm.id = entryIds[table::jvmEntry];
        jvm.data1 = "true";
    }
    if (options.allowJavaArgs) rows[table::jarEntry].data2 = "allow";
    if (options.console) rows[table::jarEntry].data1 = table::consoleKeyword;
    if (payloads[table::dataEntry].present()) rows[table::dataEntry].data1 = options.extraSpaceMb;

    // The launcher cannot start without this row: with no specification it
    // says "noValid" and describes an empty payload at the end of the file.
    BootstrapEntry& arguments = rows[table::argumentsEntry];
    arguments.id = entryIds[table::argumentsEntry];
    if (!payloads[table::argumentsEntry].present()) {
        arguments.position = static_cast<std::uint32_t>(position);
        arguments.length = 0;
        arguments.data1 = "noValid";
    }

    std::string head = stub + std::string(padded - stub.size(), '\0') + table::buildMarker();
    for (const BootstrapEntry& row : rows) {
        const EntryBytes entry = encodeEntry(row);
        head.append(reinterpret_cast<const char*>(entry.data()), entry.size());
    }
    std::string error;
    if (!writeInstaller(fs::u8path(options.output), head, payloads, positions, table::entryCount, error))
        return fail(error);
    std::printf("%s: installer written (%llu bytes)\n", options.output.c_str(),
                static_cast<unsigned long long>(position));
    return true;
}

} // namespace

int runCreateCommand(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(createUsage, stdout);
        std::fputs(windowsResourceUsage, stdout);
        return 0;
    }
    CreateOptions options;
    if (!parseOptions(argc, argv, options)) return 2;
    return buildInstaller(options) ? 0 : 1;
}

} // namespace pack
} // namespace talve
