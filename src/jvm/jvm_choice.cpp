#include "common/text_lines.h"
#include "log/logger.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"
#include "platform/command_line.h"
#include "platform/file_read_problem.h"

namespace talve {

// The packed runtime's output stays off the console, but why it failed must
// not be lost: its standard error goes to the log alone, as errors when it
// failed (which keeps the log), as detail otherwise.
void JarExtractor::logUnpackerErrors(const std::string& errorOutput, bool succeeded) {
    if (errorOutput.empty()) return;
    Logger& logger = context_.logger();
    auto note = [&](const std::string& line) { succeeded ? logger.debug(line, false) : logger.error(line, false); };
    note("The packed runtime wrote on its error output :");
    const std::size_t wholeText = errorOutput.size() + 2; // a buffer every line fits in
    for (const std::string& line : linesFittingBuffer(errorOutput, wholeText, true)) note("    " + line);
    if (errorOutput.size() >= BootstrapContext::errorOutputLimit) note("    (the rest was left out)");
}

int JarExtractor::findOrExtractJvm() {
    context_.logInfo("In JarExtractor::findOrExtractJvm method");
    const std::string& separator = context_.pathSeparator;
    std::string location;

    if (context_.javaHomeGiven) {
        context_.logInfo("Using the JVM provided on the command line");
        std::string directory = context_.javaHome;
        if (!directory.empty() && directory.rfind(separator) != directory.size() - separator.size())
            directory += separator;
        const std::string propertiesPath = directory + "jvm.properties";
        context_.logDebug("Path to java on command line : " + directory);
        context_.logDebug("Path to prop file : " + propertiesPath);
        // Read rather than merely opened: a FIFO or a device there must not hang the run.
        const FileRead properties = readRuntimeProperties(directory);
        if (properties.status != FileReadStatus::ok) {
            if (properties.status != FileReadStatus::missing)
                context_.logError(fileReadProblem(propertiesPath, properties.status, runtimePropertiesLimit));
            context_.logError("The jvm provided on the command line (" + directory +
                              ")is not suitable for the installer.");
            context_.logError("Please provide a correct jvm for the installer or use the jvm embedded in the installer.");
            return 1;
        }
        context_.setEnvironmentVariable("KORVU_JVM_LOC=" + directory);
        return 0;
    }

    const BootstrapEntry& jvm = entries_[table::jvmEntry];
    if (jvm.data1.compare(0, 4, "true") == 0) {
        context_.logInfo("Trying to locate a jvm already present on the system");
        if (getJVMLocation(location)) {
            context_.logInfo("A jvm has been found at the following location : " + location);
            context_.logInfo("This jvm will be used for the installation");
            context_.setEnvironmentVariable("KORVU_JVM_LOC=" + location);
            return 0;
        }
    }
    context_.logInfo("No jvm has been found on this system. The installer will unpack a new jvm.");

    const std::int64_t needed = megabytesOf(static_cast<std::uint64_t>(jvm.diskspace) + jvm.length) + 1;
    context_.logDebug("Space needed: " + std::to_string(needed));
    if (jvm.length == 0) {
        context_.logError("Unable to find a suitable jvm.");
        return 1;
    }
    const std::int32_t reported = context_.getDiskSpace(context_.tempDir);
    context_.logDebug("Free space: " + std::to_string(reported));
    const std::int64_t free = reported < 0 ? 0 : reported;
    if (free < needed) {
        context_.logError("There is not enough space in " + context_.tempDir + " to launch the installer.");
        context_.logError(std::to_string(needed) + " Mb is required but only " + std::to_string(free) +
                          " Mb is available.");
        return 1;
    }
    context_.logInfo("There is actually " + std::to_string(free) + " Mb of free space in \"" + context_.tempDir + "\"");
    context_.logInfo(std::to_string(needed) + " Mb of space will be used for the jvm.");

    if (!extractFile(jvm.position, jvm.length, jvm.filename)) return 1;
    context_.platform().markExecutable(jvm.filename);
    std::string errorOutput;
    const bool unpacked = context_.executeCommandKeepingErrors(quoteArgument("./" + jvm.filename) + " -o", errorOutput);
    logUnpackerErrors(errorOutput, unpacked);
    if (!unpacked) return 1;

    location = context_.tempDir + separator + "_jvm" + separator;
    context_.logInfo("The jvm has been unpacked at the following location : \"" + location + "\"");
    context_.setEnvironmentVariable("KORVU_JVM_LOC=" + location);
    return 0;
}

} // namespace talve
