#include "cmdline/argument_validator.h"
#include "cmdline/parameter_spec.h"
#include "platform/bootstrap_context.h"

namespace talve {

// Options take effect in the byte order of their names, and the arguments
// are exported only once everything has been accepted: "-help" therefore
// ends the run before anything reaches the environment.
bool BootstrapContext::processValidatedArguments(int argc, char** argv, const std::string& specification) {
    ArgumentValidator validator(specification);
    if (!validator.validate(argc, argv)) {
        logError(validator.errorMessage());
        return false;
    }
    const std::map<std::string, std::string> arguments = validator.validatedArguments();
    if (arguments.count("-key") != 0 && arguments.count("-silent") == 0 && arguments.count("-record") == 0) {
        logError("Argument [-key] can only be specified if argument(s) [-record] and/or [-silent] are present on the "
                 "command line");
        return false;
    }
    for (const auto& [name, value] : arguments) {
        if (name == "-tempdir") {
            tempDirOption = value;
        } else if (name == "-console") {
            consoleMode = true;
        } else if (name == "-multipleInstance") {
            multipleInstances = true;
        } else if (name == "-javaArgs") {
            javaArgs = value;
        } else if (name == "-noSplashScreen") {
            splashEnabled = false;
        } else if (name == "-location") {
            location = getAbsolutePath(value);
            locationGiven = true;
        } else if (name == "-javaHome") {
            javaHomeGiven = true;
            javaHome = getAbsolutePath(value);
        } else if (name == "-key") {
            keyRequested = true;
            if (value != notPresentMarker) {
                keyValue = value;
                keyValueGiven = true;
            }
        } else if (name == "-silent") {
            silentMode = true;
            setEnvironmentVariable("TALVE_SILENT_PROPERTIES=" + getAbsolutePath(value));
        } else if (name == "-record") {
            recordFile = value;
            setEnvironmentVariable("TALVE_RECORD_FILE=" + getAbsolutePath(value));
        } else if (name == "-help" || name == "-h") {
            displayUsage();
        }
    }
    exportArguments(argc, argv);
    return true;
}

} // namespace talve
