#include "cmdline/launcher_options.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"

#include <cstdio>
#include <cstring>

namespace talve {

namespace {
constexpr std::size_t assignmentLimit = 1001;
constexpr std::size_t specificationLimit = table::argumentsLimit;
constexpr std::size_t usageLimit = table::usageLimit;

// The usage text and the argument specification both come from the installer's own
// table; a file without one ends the run like the main reader does.
void readOwnTable(BootstrapContext& context, JarExtractor& reader) {
    if (!reader.open(context.installerPath())) context.exitWithCode(1, true);
}

// A value that may stand for an option: present, not empty, not an option itself.
bool usableValue(int i, int argc, char** argv) {
    return i + 1 < argc && argv[i + 1][0] != '\0' && argv[i + 1][0] != '-';
}
} // namespace

void BootstrapContext::exportArgument(int index, const char* argument) {
    char name[32];
    std::snprintf(name, sizeof name, "KORVU_BOOTSTRAP_ARGV%02d=", index);
    std::string assignment = std::string(name) + argument;
    if (assignment.size() > assignmentLimit) assignment.resize(assignmentLimit);
    setEnvironmentVariable(assignment);
}

void BootstrapContext::exportArguments(int argc, char** argv) {
    setEnvironmentVariable("KORVU_BOOTSTRAP_ARGC=" + std::to_string(argc));
    for (int i = 0; i < argc; ++i) exportArgument(i, argv[i]);
}

bool BootstrapContext::processAndValidateArguments(int argc, char** argv) {
    logInfo("Processing and validating arguments");
    JarExtractor reader(*this);
    readOwnTable(*this, reader);
    const BootstrapEntry& arguments = *reader.entry(table::argumentsEntry);
    logDebug("Arguments validation bootstrap entry retrieved");
    if (reader.entry(table::jarEntry)->data1 == table::consoleKeyword) {
        consoleMode = true;
        logInfo("The installer was built to run with -console");
        // Started from the desktop, its window was hidden a moment ago; a
        // console installer talks to the user there.
        showConsole();
    }

    if (arguments.data1.compare(0, 7, "noValid") == 0) return processArguments(argc, argv);
    if (arguments.length >= specificationLimit) {
        logWarning("Arguments file is too long to be retrieved");
        return processArguments(argc, argv);
    }
    std::string specification;
    if (!reader.readPayload(arguments, specificationLimit, specification)) {
        logError("Failed in fread function");
        return false;
    }
    // The text ends at its first NUL byte.
    specification.resize(std::strlen(specification.c_str()));
    return processValidatedArguments(argc, argv, specification);
}

bool BootstrapContext::processArguments(int argc, char** argv) {
    logInfo("Processing arguments.");
    setEnvironmentVariable("KORVU_BOOTSTRAP_ARGC=" + std::to_string(argc));
    if (argc < 1) return true;
    // A value is not skipped: it is examined as an argument of its own in the next round.
    for (int i = 0; i < argc; ++i) {
        exportArgument(i, argv[i]);
        const LauncherOptionSpec* spec = findLauncherOption(argv[i]);
        if (spec == nullptr) continue;
        std::optional<std::string> value;
        if ((spec->plainValue == PlainValue::Any && i + 1 < argc) ||
            (spec->plainValue == PlainValue::Usable && usableValue(i, argc, argv)))
            value = argv[i + 1];
        applyOption(spec->option, value);
    }
    return true;
}

void BootstrapContext::applyOption(LauncherOption option, const std::optional<std::string>& value) {
    switch (option) {
    case LauncherOption::Help:
        displayUsage();
    case LauncherOption::Console:
        consoleMode = true;
        break;
    case LauncherOption::MultipleInstance:
        multipleInstances = true;
        break;
    case LauncherOption::NoSplashScreen:
        splashEnabled = false;
        break;
    case LauncherOption::TempDir:
        if (value) tempDirOption = *value;
        break;
    case LauncherOption::JavaArgs:
        if (value) javaArgs = *value;
        break;
    case LauncherOption::Location:
        if (!value) break;
        // Looked into after the run has moved to its temporary directory.
        location = getAbsolutePath(*value);
        locationGiven = true;
        break;
    case LauncherOption::JavaHome:
        if (!value) break;
        javaHomeGiven = true;
        javaHome = getAbsolutePath(*value);
        break;
    case LauncherOption::Key:
        keyRequested = true;
        if (value) {
            keyValue = *value;
            keyValueGiven = true;
        }
        break;
    case LauncherOption::Silent:
        silentMode = true;
        if (value) setEnvironmentVariable("TALVE_SILENT_PROPERTIES=" + getAbsolutePath(*value));
        break;
    case LauncherOption::Record:
        if (!value) displayUsage();
        recordFile = *value;
        setEnvironmentVariable("TALVE_RECORD_FILE=" + getAbsolutePath(*value));
        break;
    }
}

void BootstrapContext::displayUsage() {
    logInfo("Displaying usage");
    JarExtractor reader(*this);
    readOwnTable(*this, reader);
    const BootstrapEntry& usage = *reader.entry(table::usageEntry);
    logDebug("Usage bootstrap entry retrieved");

    std::string text;
    if (usage.length >= usageLimit) {
        logError("Usage is too long to be retrieved");
    } else if (!reader.readPayload(usage, usageLimit, text)) {
        logError("Failed in fread function");
    } else {
        std::fputs(text.c_str(), stdout);
    }
    exitWithCode(1, true);
}

} // namespace talve
