#include "entry_path.h"

#include <vector>

namespace talve {
namespace archive {
namespace {

std::vector<std::string> splitOnSeparators(const std::string& path) {
    std::vector<std::string> parts(1);
    for (char c : path) {
        if (c == '/' || c == '\\') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

bool hasForbiddenCharacter(const std::string& path) {
    for (char c : path) {
        if (c == ':' || c == '\0') return true;
    }
    return false;
}

} // namespace

bool isSafeEntryPath(const std::string& path) {
    if (path.empty() || hasForbiddenCharacter(path)) return false;
    for (const std::string& part : splitOnSeparators(path)) {
        if (part.empty() || part == "." || part == "..") return false;
    }
    return true;
}

bool isSafeLinkTarget(const std::string& linkPath, const std::string& target) {
    if (target.empty() || hasForbiddenCharacter(target)) return false;
    if (target.front() == '/' || target.front() == '\\') return false;

    const std::size_t linkDepth = splitOnSeparators(linkPath).size() - 1;
    std::size_t climbs = 0;
    bool descended = false;
    for (const std::string& part : splitOnSeparators(target)) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (descended) return false;
            ++climbs;
        } else {
            descended = true;
        }
    }
    return climbs <= linkDepth;
}

} // namespace archive
} // namespace talve
