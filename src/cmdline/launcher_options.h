#pragma once

// The launcher's own options, listed once: both passes over the command
// line find them here, and talve-pack declares them in an installer's
// argument specification from the same list.

#include "cmdline/parameter_spec.h"

#include <array>
#include <string>

namespace talve {

enum class LauncherOption { Help, Console, MultipleInstance, NoSplashScreen, TempDir, JavaArgs, Location, JavaHome,
                            Key, Silent, Record };

// Which following argument the plain pass takes as the option's value.
enum class PlainValue {
    None,   // a switch
    Any,    // whatever follows, empty or starting with '-' included
    Usable, // only one that is not empty and does not start with '-'
};

struct LauncherOptionSpec {
    const char* name;
    LauncherOption option;
    PlainValue plainValue;
    ParameterType specType; // as declared in an argument specification
    bool specOptional;
};

extern const std::array<LauncherOptionSpec, 12> launcherOptions;

// The entry whose name is exactly `argument`, or null.
const LauncherOptionSpec* findLauncherOption(const std::string& argument);

} // namespace talve
