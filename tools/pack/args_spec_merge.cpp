#include "args_spec_merge.h"

#include "cmdline/launcher_options.h"
#include "cmdline/parameter_builder.h"

#include <set>
#include <vector>

namespace talve {
namespace pack {
namespace {

std::set<std::string> declaredNames(const std::string& specification) {
    std::set<std::string> names;
    for (const ParameterSpec& parameter : buildParameters(specification)) names.insert(parameter.name);
    return names;
}

const char* typeName(ParameterType type) {
    return type == ParameterType::NoValue ? "NoValue" : "String";
}

} // namespace

bool addLauncherOptions(std::string& specification, std::string& problem) {
    const std::set<std::string> declared = declaredNames(specification);
    std::string added;
    std::vector<std::string> addedNames;
    for (const LauncherOptionSpec& option : launcherOptions) {
        if (declared.count(option.name) != 0) continue;
        added += std::string(option.name) + "{\nType=" + typeName(option.specType) + "\n";
        if (option.specOptional) added += "Optional=True\n";
        added += "}\n";
        addedNames.push_back(option.name);
    }
    if (added.empty()) return true;
    std::string merged = specification;
    if (!merged.empty() && merged.back() != '\n' && merged.back() != '\r') merged += '\n';
    merged += added;
    const std::set<std::string> after = declaredNames(merged);
    for (const std::string& name : addedNames) {
        if (after.count(name) == 0) {
            problem = "the launcher's own option " + name +
                      " cannot be added behind this specification: the launcher stops reading it before its end (a stray "
                      "line before the first block, or a NUL byte); mend the text or declare the launcher's options in it";
            return false;
        }
    }
    specification = merged;
    return true;
}

} // namespace pack
} // namespace talve
