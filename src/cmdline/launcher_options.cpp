#include "cmdline/launcher_options.h"

namespace talve {

const std::array<LauncherOptionSpec, 12> launcherOptions{{
    {"-help", LauncherOption::Help, PlainValue::None, ParameterType::NoValue, false},
    {"-h", LauncherOption::Help, PlainValue::None, ParameterType::NoValue, false},
    {"-console", LauncherOption::Console, PlainValue::None, ParameterType::NoValue, false},
    {"-multipleInstance", LauncherOption::MultipleInstance, PlainValue::None, ParameterType::NoValue, false},
    {"-noSplashScreen", LauncherOption::NoSplashScreen, PlainValue::None, ParameterType::NoValue, false},
    {"-tempdir", LauncherOption::TempDir, PlainValue::Usable, ParameterType::String, false},
    {"-javaArgs", LauncherOption::JavaArgs, PlainValue::Any, ParameterType::String, false},
    {"-location", LauncherOption::Location, PlainValue::Any, ParameterType::String, false},
    {"-javaHome", LauncherOption::JavaHome, PlainValue::Any, ParameterType::String, false},
    // Without a value the key is asked for at a prompt.
    {"-key", LauncherOption::Key, PlainValue::Usable, ParameterType::String, true},
    {"-silent", LauncherOption::Silent, PlainValue::Usable, ParameterType::String, false},
    {"-record", LauncherOption::Record, PlainValue::Any, ParameterType::String, false},
}};

const LauncherOptionSpec* findLauncherOption(const std::string& argument) {
    for (const LauncherOptionSpec& spec : launcherOptions) {
        if (argument == spec.name) return &spec;
    }
    return nullptr;
}

} // namespace talve
