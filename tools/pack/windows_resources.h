#pragma once

// What `create` gives a Windows installer besides its payloads: the icon,
// the version information and the execution level its manifest asks for.

#include <optional>
#include <string>

namespace talve {
namespace pack {

struct WindowsResourceOptions {
    std::string icon;           // path of an ICO file; empty for none
    std::string iconBytes;      // its content, read by the caller
    std::string executionLevel; // empty: the launcher's own
    std::optional<std::string> productName, productVersion, fileVersion, company, description, copyright,
        originalFilename;

    // The first of these options given, as on the command line; empty for none.
    std::string firstGiven() const;
    bool versionGiven() const;
};

// The options' lines of `talve-pack create --help`.
extern const char* const windowsResourceUsage;

bool isWindowsResourceOption(const std::string& option);

// Takes one option's value, refused with `problem` when it can never be
// written (an unknown level, a version that is not dotted numbers, a text
// too long or not UTF-8).
bool setWindowsResourceOption(WindowsResourceOptions& options, const std::string& option, const std::string& value,
                              std::string& problem);

// Writes the resources into the stub, a Windows program. The original
// file name defaults to `outputName`. False with `problem`, which names
// the icon file when that is what is wrong.
bool applyWindowsResources(std::string& stub, const WindowsResourceOptions& options, const std::string& outputName,
                           std::string& problem);

} // namespace pack
} // namespace talve
