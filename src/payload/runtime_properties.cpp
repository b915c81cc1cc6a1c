#include "payload/runtime_properties.h"

#include "common/text_lines.h"

namespace talve {

namespace {
constexpr std::size_t propertyLineBuffer = 1001;
} // namespace

std::string launcherNamedIn(const std::string& properties, bool crLf, const std::string& defaultLauncher) {
    std::string launcher = defaultLauncher;
    for (const std::string& line : linesFittingBuffer(properties, propertyLineBuffer, crLf)) {
        if (line.compare(0, 13, "java.bin.path") != 0) continue;
        // The character after the key is skipped whatever it is, normally "=".
        std::string value = line.size() > 14 ? line.substr(14) : std::string();
        launcher = value.empty() ? defaultLauncher : value;
    }
    return launcher;
}

bool staysInsideHome(const std::string& path) {
    if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos) return false;
    int depth = 0;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find_first_of("/\\", begin);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(begin, end - begin);
        if (part == "..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        begin = end + 1;
    }
    return true;
}

} // namespace talve
