#include "windows_resources.h"

#include "icon_file.h"
#include "pe_resources.h"
#include "version_info.h"

#include <algorithm>

namespace talve {
namespace pack {
namespace {

using Field = std::optional<std::string> WindowsResourceOptions::*;

// In the order the version information lists them.
const struct {
    const char* option;
    const char* key;
    Field field;
} versionFields[] = {
    {"--company", "CompanyName", &WindowsResourceOptions::company},
    {"--description", "FileDescription", &WindowsResourceOptions::description},
    {"--file-version", "FileVersion", &WindowsResourceOptions::fileVersion},
    {"--copyright", "LegalCopyright", &WindowsResourceOptions::copyright},
    {"--original-filename", "OriginalFilename", &WindowsResourceOptions::originalFilename},
    {"--product-name", "ProductName", &WindowsResourceOptions::productName},
    {"--product-version", "ProductVersion", &WindowsResourceOptions::productVersion},
};

const char* const executionLevels[] = {"asInvoker", "highestAvailable", "requireAdministrator"};

bool setExecutionLevel(std::string& manifest, const std::string& level) {
    const std::size_t element = manifest.find("<requestedExecutionLevel");
    if (element == std::string::npos) return false;
    const std::size_t end = manifest.find('>', element);
    if (end == std::string::npos) return false;
    std::size_t attribute = manifest.find(" level=", element);
    if (attribute == std::string::npos || attribute > end || attribute + 8 > end) return false;
    const char quote = manifest[attribute + 7];
    const std::size_t value = attribute + 8;
    const std::size_t close = manifest.find(quote, value);
    if ((quote != '"' && quote != '\'') || close == std::string::npos || close > end) return false;
    manifest.replace(value, close - value, level);
    return true;
}

void replaceType(std::vector<Resource>& resources, std::uint16_t type, std::vector<Resource> replacement) {
    resources.erase(std::remove_if(resources.begin(), resources.end(), [&](const Resource& r) { return r.type == type; }),
                    resources.end());
    resources.insert(resources.end(), replacement.begin(), replacement.end());
}

} // namespace

const char* const windowsResourceUsage =
    "A Windows launcher's icon, version information and rights (what is not given\n"
    "is left out; versions are dotted numbers, up to four parts):\n"
    "  --icon FILE.ico          the installer's icon, every image of the file\n"
    "  --product-name TEXT  --company TEXT  --description TEXT  --copyright TEXT\n"
    "  --product-version VERSION  --file-version VERSION\n"
    "  --original-filename NAME default: the output's file name\n"
    "  --execution-level LEVEL  asInvoker, highestAvailable (default) or\n"
    "                           requireAdministrator\n";

std::string WindowsResourceOptions::firstGiven() const {
    if (!icon.empty()) return "--icon";
    if (!executionLevel.empty()) return "--execution-level";
    for (const auto& field : versionFields)
        if (this->*field.field) return field.option;
    return "";
}

bool WindowsResourceOptions::versionGiven() const {
    for (const auto& field : versionFields)
        if (this->*field.field) return true;
    return false;
}

bool isWindowsResourceOption(const std::string& option) {
    if (option == "--icon" || option == "--execution-level") return true;
    for (const auto& field : versionFields)
        if (option == field.option) return true;
    return false;
}

bool setWindowsResourceOption(WindowsResourceOptions& options, const std::string& option, const std::string& value,
                              std::string& problem) {
    if (option == "--icon") {
        options.icon = value;
        return true;
    }
    if (option == "--execution-level") {
        if (std::find(std::begin(executionLevels), std::end(executionLevels), value) == std::end(executionLevels)) {
            problem = "--execution-level takes asInvoker, highestAvailable or requireAdministrator, not '" + value + "'";
            return false;
        }
        options.executionLevel = value;
        return true;
    }
    VersionNumber number;
    if ((option == "--file-version" || option == "--product-version") && !parseVersionNumber(value, number)) {
        problem = option + ": '" + value + "' is not a version of dotted numbers (up to four, each 0 to 65535)";
        return false;
    }
    std::u16string text;
    if (value.empty() || !versionText(value, text, problem)) {
        problem = option + ": " + (value.empty() ? std::string("an empty text") : problem);
        return false;
    }
    for (const auto& field : versionFields)
        if (option == field.option) options.*field.field = value;
    return true;
}

bool applyWindowsResources(std::string& stub, const WindowsResourceOptions& options, const std::string& outputName,
                           std::string& problem) {
    std::vector<Resource> resources;
    if (!readResources(stub, resources, problem)) {
        problem = "the launcher's resources: " + problem;
        return false;
    }
    if (!options.icon.empty()) {
        std::vector<Resource> icons;
        if (!iconResources(options.iconBytes, icons, problem)) {
            problem = options.icon + ": not a valid icon file: " + problem;
            return false;
        }
        replaceType(resources, kResourceIcon, {});
        replaceType(resources, kResourceIconGroup, icons);
    }
    if (options.versionGiven()) {
        VersionInfo info;
        if (options.fileVersion) parseVersionNumber(*options.fileVersion, info.fileVersion);
        if (options.productVersion) parseVersionNumber(*options.productVersion, info.productVersion);
        for (const auto& field : versionFields) {
            const std::optional<std::string>& value = options.*field.field;
            const std::string given = value ? *value : field.field == &WindowsResourceOptions::originalFilename ? outputName : "";
            std::u16string text;
            if (given.empty()) continue;
            if (!versionText(given, text, problem)) {
                problem = std::string(field.option) + ": " + problem;
                return false;
            }
            info.strings.emplace_back(field.key, text);
        }
        Resource version;
        version.type = kResourceVersion;
        version.name = 1;
        version.data = versionResource(info);
        replaceType(resources, kResourceVersion, {version});
    }
    if (!options.executionLevel.empty()) {
        bool found = false;
        for (Resource& resource : resources) {
            if (resource.type == kResourceManifest) found |= setExecutionLevel(resource.data, options.executionLevel);
        }
        if (!found) {
            problem = "the launcher's manifest names no execution level to change";
            return false;
        }
    }
    if (!replaceResources(stub, resources, problem)) {
        problem = "the launcher: " + problem;
        return false;
    }
    return true;
}

} // namespace pack
} // namespace talve
