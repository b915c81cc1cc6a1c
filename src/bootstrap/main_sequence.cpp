#include "bootstrap/main_sequence.h"

#include "bootstrap/communication_file.h"
#include "bootstrap/property_map.h"
#include "bootstrap/run_timestamp.h"
#include "log/logger.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"

#include <cstdio>

namespace talve {

namespace {
constexpr std::size_t launchDirectoryLimit = 499;

// The folder that holds the run's temporary directory, where its log lies too.
std::string parentOf(const std::string& path, const std::string& separator) {
    std::size_t cut = path.rfind(separator);
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

[[noreturn]] void failAfterTempDir(BootstrapContext& context) {
    if (!context.tempDir.empty()) context.cleanUp();
    context.exitWithCode(1, true);
}

void reportSilentFailure(BootstrapContext& context, const PropertyMap& properties) {
    std::printf("The installation process did not complete successfully.\n");
    const std::string usedLog = properties.get("installationLog.usedLogFile");
    if (!usedLog.empty()) {
        std::printf("The installation log is available at the following location : [%s]\n", usedLog.c_str());
        return;
    }
    std::printf("The installation log can be found under the product home directory if the\n");
    std::printf("installation location has already been set.\n");
    std::printf("Otherwise, it is located in the temporary directory (%s).\n",
                parentOf(context.tempDir, context.pathSeparator).c_str());
}
} // namespace

void runBootstrap(BootstrapContext& context, int argc, char** argv) {
    context.freeConsole();
    context.setEnvironmentVariable("_JAVA_OPTIONS=");
    context.setEnvironmentVariable("JAVA_TOOL_OPTIONS=");

    std::optional<std::string> launchDirectory = context.platform().currentDirectory();
    if (!launchDirectory || launchDirectory->size() > launchDirectoryLimit) {
        context.logError("Unable to retrieve the current diretory pathname");
        context.exitWithCode(1, true);
    }
    context.setEnvironmentVariable("myLAUNCH_DIR=" + *launchDirectory);

    if (context.hasEnvironment("KORVU_LOG_LEVEL"))
        context.logger().setLevel(levelFromName(context.environmentValue("KORVU_LOG_LEVEL"), context.logger().level()));
    const std::string timestamp = runTimestampNow();

    if (!context.processAndValidateArguments(argc, argv)) context.displayUsage();
    if (!context.exportFitsPrograms(argc)) context.exitWithCode(1, true);
    context.logInfo("Starting bootstrap...");

    context.checkNetworkLaunch();
    if (!context.checkOtherInstances()) context.exitWithCode(1, true);
    if (context.silentMode && !context.checkSilentFile()) context.exitWithCode(1, true);
    if (!context.recordFile.empty() && context.keyRequested) {
        if (!context.enterRecordKey()) context.exitWithCode(1, true);
        if (!context.exportRecordKey()) context.exitWithCode(1, true);
    }

    const std::string self = context.installerPath();
    context.setEnvironmentVariable("KORVU_BOOTSTRAP_EXENAME=" + self);

    if (!context.setTempDirectory()) context.exitWithCode(1, true);
    const std::string& separator = context.pathSeparator;
    const std::string tempParent = parentOf(context.tempDir, separator);
    context.logger().open(tempParent + separator + "bootstrapLog_" + timestamp + "_.log");

    if (!context.createExitScript()) failAfterTempDir(context);
    const std::string commFile = context.tempDir + separator + "bootstrap_comm_" + timestamp + ".properties";
    context.setEnvironmentVariable("KORVU_BOOTSTRAP_COMM_FILE=" + commFile);

    bool rebootRequested = false;
    {
        JarExtractor extractor(context);
        // A file that cannot be read leaves nothing behind either.
        if (!extractor.open(self)) failAfterTempDir(context);
        if (!extractor.checkTemporaryDiskSpace()) failAfterTempDir(context);

        if (context.lastResult == 0) {
            const int prepared = extractor.extractAndRunJar();
            context.setExitCode(prepared);
            // Only a complete preparation has a command to run.
            if (prepared == 0 && context.lastResult == 0) {
                context.setExitCode(extractor.runInstallerCommand());
                rebootRequested = context.exitCode == 4;
            }
        }
    }

    PropertyMap properties = readCommunicationFile(context, commFile);
    context.launchExitScript();
    context.cleanUp();
    if (context.exitCode != 1) context.logger().close();
    if (rebootRequested) context.reboot();
    if (context.silentMode && context.exitCode != 0 && context.exitCode != 4)
        reportSilentFailure(context, properties);
    context.exitWithCode(context.exitCode, false);
}

} // namespace talve
