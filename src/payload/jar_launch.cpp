#include "common/decimal.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "payload/runtime_properties.h"
#include "platform/bootstrap_context.h"
#include "platform/command_line.h"
#include "platform/file_read_problem.h"
#include "splash/flash_screen.h"
#include "splash/splash_runner.h"

namespace talve {

namespace {
constexpr std::size_t commandLimit = 1000;

// An empty entry of a search path means the current directory, from which
// a program planted there would run: none is ever passed on.
std::string searchPathStartingWith(const std::string& first, char separator, const std::string& rest) {
    std::string joined = first;
    std::size_t begin = 0;
    while (begin <= rest.size()) {
        std::size_t end = rest.find(separator, begin);
        if (end == std::string::npos) end = rest.size();
        if (end > begin) joined += separator + rest.substr(begin, end - begin);
        begin = end + 1;
    }
    return joined;
}
} // namespace

FileRead JarExtractor::readRuntimeProperties(const std::string& home) {
    return context_.platform().readRegularFile(home + "jvm.properties", runtimePropertiesLimit);
}

// Every runtime, whichever way it was found, names its launcher in its
// "jvm.properties" (later lines win); the one checked is the one that runs.
std::optional<std::string> JarExtractor::runtimeLauncher(const std::string& home, std::string& problem) {
    const std::string propertiesPath = home + "jvm.properties";
    FileRead properties = readRuntimeProperties(home);
    if (properties.status != FileReadStatus::ok) {
        problem = fileReadProblem(propertiesPath, properties.status, runtimePropertiesLimit);
        return std::nullopt;
    }
    const std::string launcher = launcherNamedIn(
        properties.content, context_.platform().conventions().textLinesEndInCrLf, context_.defaultJavaLauncher);
    if (!staysInsideHome(launcher)) {
        problem = "The file \"" + propertiesPath + "\" names the Java launcher \"" + launcher +
                  "\", which does not lie inside the runtime directory " + home + ".";
        return std::nullopt;
    }
    return launcher;
}

std::optional<std::string> JarExtractor::javaLauncherPath() {
    std::string problem;
    std::optional<std::string> launcher = runtimeLauncher(context_.environmentValue("KORVU_JVM_LOC"), problem);
    if (!launcher) context_.logError(problem);
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

        const std::optional<std::string> launcher = javaLauncherPath();
        if (!launcher) return 1;
        const std::string libraryDir = tempDir + context_.pathSeparator + "korvu_lib";
        // The installer may do without it: the run goes on, but the user is told.
        if (!context_.createDirectory(libraryDir))
            context_.logWarning("Unable to create the library directory " + libraryDir +
                                "; the installer runs without it.");
        context_.setEnvironmentVariable("PATH=" + searchPathStartingWith(
                                                      libraryDir, context_.platform().conventions().searchPathSeparator,
                                                      context_.environmentValue("PATH")));

        const std::string jvm = context_.environmentValue("KORVU_JVM_LOC");
        std::string composed = quoteArgument(jvm + *launcher) + " -Duser.language=en ";
        if (jar.data2 == "allow") composed += context_.javaArgs + " ";
        composed += "-jar " + quoteArgument(jar.filename);
        // Cut short, the command would start another program or name another jar.
        if (composed.size() > commandLimit) {
            context_.logError("The command that starts the installer is " + std::to_string(composed.size()) +
                              " characters long, more than the " + std::to_string(commandLimit) +
                              " the launcher can run: " + composed);
            return 1;
        }

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
