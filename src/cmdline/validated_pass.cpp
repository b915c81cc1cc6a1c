#include "cmdline/argument_validator.h"
#include "cmdline/launcher_options.h"
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
        const LauncherOptionSpec* spec = findLauncherOption(name);
        if (spec == nullptr) continue; // a parameter of the installer jar's own
        // The value stands as the validator stored it; only -key tells a missing one apart.
        if (spec->option == LauncherOption::Key && value == notPresentMarker)
            applyOption(spec->option, std::nullopt);
        else
            applyOption(spec->option, value);
    }
    exportArguments(argc, argv);
    return true;
}

} // namespace talve
