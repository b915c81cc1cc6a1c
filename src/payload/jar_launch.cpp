#include "common/decimal.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"
#include "platform/command_line.h"
#include "splash/flash_screen.h"
#include "splash/splash_runner.h"

#include <cstdio>
#include <cstring>

namespace talve {

namespace {
constexpr std::size_t commandLimit = 1000;
constexpr std::size_t propertyLineBuffer = 1001;
} // namespace

// The runtime may name its launcher in "jvm.properties"; later lines win.
std::string JarExtractor::javaLauncherPath() {
    std::string launcher = context_.defaultJavaLauncher;
    const std::string propertiesPath = context_.environmentValue("KORVU_JVM_LOC") + "jvm.properties";
    std::FILE* properties = std::fopen(propertiesPath.c_str(), "r");
    if (properties == nullptr) return launcher;
    char line[propertyLineBuffer];
    while (std::fgets(line, sizeof line, properties) != nullptr) {
        std::size_t length = std::strlen(line);
        if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
        if (std::strncmp(line, "java.bin.path", 13) != 0) continue;
        // The character after the key is skipped whatever it is, normally "=".
        std::string value = length > 14 ? std::string(line + 14, length - 14) : std::string();
        launcher = value.empty() ? context_.defaultJavaLauncher : value;
    }
    std::fclose(properties);
    return launcher;
}

int JarExtractor::extractAndRunJar() {
    int result = launchSplashScreen();
    if (result == 0) result = findOrExtractJvm();
    if (result == 0) {
        context_.logInfo("In JarExtractor::extractAndRunJar method");
        const BootstrapEntry& jar = entries_[table::jarEntry];
        const BootstrapEntry& data = entries_[table::dataEntry];
        const std::string& tempDir = context_.tempDir;

        const std::int64_t jarSpace = megabytesOf(data.length) + megabytesOf(jar.length) + 2;
        const std::int64_t extraSpace = parseDecimal(data.data1);
        const std::int64_t free = context_.getDiskSpace(tempDir);
        if (jarSpace + extraSpace > free) {
            context_.logError("There is not enough space in " + tempDir + " to launch the installer.");
            context_.logError("The actual free space is " + std::to_string(free) + " Mb but the needed space is " +
                              std::to_string(jarSpace + extraSpace) + " Mb.");
            return 1;
        }
        context_.logInfo("There is actually " + std::to_string(free) + " Mb of free space in \"" + tempDir + "\"");
        context_.logInfo(std::to_string(jarSpace) + " Mb of space will be used for the installer jar file.");
        context_.logInfo(std::to_string(extraSpace) + " Mb of space will be used for various purposes.");

        if (!extractFile(jar.position, jar.length, jar.filename)) return 1;
        // An installer without a data jar has nothing to extract for it.
        if (data.present() && !extractFile(data.position, data.length, data.filename)) return 1;

        const std::string launcher = javaLauncherPath();
        const std::string libraryDir = tempDir + context_.pathSeparator + "korvu_lib";
        context_.createDirectory(libraryDir);
        context_.setEnvironmentVariable("PATH=" + libraryDir + context_.platform().conventions().searchPathSeparator +
                                        context_.environmentValue("PATH"));

        const std::string jvm = context_.environmentValue("KORVU_JVM_LOC");
        std::string composed = quoteArgument(jvm + launcher) + " -Duser.language=en ";
        if (jar.data2 == "allow") composed += context_.javaArgs + " ";
        composed += "-jar " + quoteArgument(jar.filename);
        if (composed.size() > commandLimit) composed.resize(commandLimit);

        // The splash goes away as the installer's own window comes up.
        if (splashRunner_ && splashRunner_->screen()) splashRunner_->screen()->requestClose();
        command_ = composed;
    }
    if (!context_.silentMode) splashRunner_.reset();
    return result;
}

int JarExtractor::runInstallerCommand() {
    context_.executeCommand(command_, false);
    return context_.lastResult;
}

} // namespace talve
