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

// Logged in its place, but put into the environment with the others by
// flushArgumentExport: one at a time, a hundred thousand arguments took
// half a minute.
void BootstrapContext::exportArgument(int index, const char* argument) {
    char name[32];
    std::snprintf(name, sizeof name, "KORVU_BOOTSTRAP_ARGV%02d=", index);
    std::string assignment = std::string(name) + argument;
    if (assignment.size() > assignmentLimit) assignment.resize(assignmentLimit);
    logInfo("Setting the following environment variable : " + assignment);
    pendingArgumentExport_.push_back(std::move(assignment));
}

void BootstrapContext::flushArgumentExport() {
    lastResult = platform_.putEnvironmentAll(pendingArgumentExport_);
    pendingArgumentExport_.clear();
    pendingArgumentExport_.shrink_to_fit();
}

void BootstrapContext::exportArguments(int argc, char** argv) {
    setEnvironmentVariable("KORVU_BOOTSTRAP_ARGC=" + std::to_string(argc));
    pendingArgumentExport_.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
    for (int i = 0; i < argc; ++i) exportArgument(i, argv[i]);
    flushArgumentExport();
}

// Every program the run starts inherits the exported command line; one
// that no program can be started with would fail every step after the
// temporary directory is made, the installer's included. The room kept
// holds the variables and command lines still to come: paths of at most a
// thousand characters each, and the -javaArgs text, which reaches the
// Java command line as well.
bool BootstrapContext::exportFitsPrograms(int argc) {
    const StartRoom room = platform_.startRoom();
    if (room.limit == 0) return true;
    const std::uint64_t reserve = 16 * 1024 + 2 * static_cast<std::uint64_t>(javaArgs.size());
    if (room.environmentBytes + reserve <= room.limit) return true;
    logError("The command line is too long to be handed to the installer: its " + std::to_string(argc) +
             " arguments make an environment of " + std::to_string(room.environmentBytes) +
             " bytes, and this system starts a program with at most " + std::to_string(room.limit) +
             " bytes of environment and arguments together.");
    return false;
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
    pendingArgumentExport_.reserve(static_cast<std::size_t>(argc));
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
    flushArgumentExport();
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
