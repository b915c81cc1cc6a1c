#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"
#include "platform/command_line.h"

namespace talve {

namespace {

// The one answer of the checking jar that accepts a runtime.
constexpr int runtimeAccepted = 32;

// Opened and closed again, as a file reader would: a FIFO or a device put
// at that name can neither stall the search nor pass for a java launcher.
bool readableRegularFile(Platform& platform, const std::string& path) {
    const FileReadStatus status = platform.readRegularFile(path, 0).status;
    return status == FileReadStatus::ok || status == FileReadStatus::tooLarge;
}

std::string programFile(Platform& platform, const std::string& path) {
    const std::string& suffix = platform.conventions().executableSuffix;
    const std::size_t nameStart = path.find_last_of("/\\") + 1;
    return suffix.empty() || path.find('.', nameStart) != std::string::npos ? path : path + suffix;
}

} // namespace

// A runtime loads far more than its launcher (libraries, modules, their
// configuration), so a file put anywhere inside it would run with the
// installer's rights: the whole tree is judged, once per runtime, however
// many records name its home.
std::string JarExtractor::runtimeOpenToOthers(const std::string& runtimeDirectory) {
    const auto known = runtimeVetting_.find(runtimeDirectory);
    if (known != runtimeVetting_.end()) return known->second;
    const std::string problem = context_.platform().treeWritableByOthers(runtimeDirectory);
    runtimeVetting_.emplace(runtimeDirectory, problem);
    return problem;
}

bool JarExtractor::isJvmValid(const std::string& runtimeDirectory) {
    context_.logDebug("In JarExtractor::isJvmValid method");
    context_.logInfo("Checking validity of jvm located in : " + runtimeDirectory);
    const std::string& separator = context_.pathSeparator;
    const bool elevated = context_.platform().runsElevated();
    const std::string where = "The jvm located in \"" + runtimeDirectory + "\"";
    if (elevated && !trustedByElevatedRun(where, runtimeOpenToOthers(runtimeDirectory))) return false;
    std::string problem;
    const std::optional<std::string> launcher = runtimeLauncher(runtimeDirectory + separator, problem);
    if (!launcher) {
        context_.logDebug(problem);
        context_.logInfo("This jvm located in \"" + runtimeDirectory + "\" is not valid");
        return false;
    }
    // Run as the installer will be run; the system finds the program file
    // with its executable suffix when the name has none.
    const std::string javaPath = runtimeDirectory + separator + *launcher;
    const std::string javaFile = programFile(context_.platform(), javaPath);
    if (!readableRegularFile(context_.platform(), javaFile)) {
        context_.logDebug("Cannot find java executable for jvm located in : " + runtimeDirectory);
        context_.logInfo("This jvm located in \"" + runtimeDirectory + "\" is not valid");
        return false;
    }

    const BootstrapEntry& checkingJar = entries_[table::jvmCheckingJarEntry];
    const BootstrapEntry& requirements = entries_[table::requirementEntry];
    if (!checkingJar.present()) {
        context_.logDebug("No jvm checking jar has been provided");
        context_.logInfo("Unable to check the jvm located in : " + runtimeDirectory);
        return false;
    }

    const std::int64_t needed = megabytesOf(checkingJar.diskspace) + megabytesOf(requirements.diskspace) + 1;
    std::int64_t free = context_.getDiskSpace(context_.tempDir);
    if (free < 1) free = 1;
    if (free < needed) {
        context_.logError("There isn't enough space in the temporary directory (" + context_.tempDir +
                          ") to extract the jvm checking jar and the requirement file");
        return false;
    }

    // A failed extraction shows in the check itself, which then cannot accept.
    extractFile(checkingJar.position, checkingJar.length, checkingJar.filename);
    if (requirements.present()) extractFile(requirements.position, requirements.length, requirements.filename);

    // Quoted: Windows puts 32-bit programs under "Program Files (x86)", and
    // many account names, hence temporary folders, hold blanks.
    const std::string folder = context_.tempDir + separator;
    const std::string command = quoteArgument(javaPath) + " -jar " + quoteArgument(folder + "check.jar") + " " +
                                quoteArgument(folder + "req.txt");
    // A refusing, failing or hung check only means that this runtime is not used.
    context_.executeCommandQuietly(command, context_.runtimeCheckLimit);
    const bool accepted = context_.lastResult == runtimeAccepted;
    context_.logInfo("The jvm located in \"" + runtimeDirectory + (accepted ? "\" is valid" : "\" is not valid"));
    return accepted;
}

} // namespace talve
