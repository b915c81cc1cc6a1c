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

bool isControlCharacter(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool hasForbiddenCharacter(const std::string& path) {
    return path.find(':') != std::string::npos || hasControlCharacter(path);
}

} // namespace

bool hasControlCharacter(const std::string& text) {
    for (char c : text) {
        if (isControlCharacter(c)) return true;
    }
    return false;
}

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

std::string printablePath(const std::string& path) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    for (char c : path) {
        if (isControlCharacter(c)) {
            const auto byte = static_cast<unsigned char>(c);
            shown += std::string("\\x") + hex[byte >> 4] + hex[byte & 0xf];
        } else {
            shown.push_back(c);
        }
    }
    return shown;
}

} // namespace archive
} // namespace talve
