#include "platform/posix/environment_block.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <unordered_map>

extern char** environ;

namespace talve {
namespace posix {
namespace {

// What environ points at lives as long as the process, as putenv's texts do;
// holding it here keeps it reachable rather than lost.
std::vector<char*>& processLifetime() {
    static auto* kept = new std::vector<char*>();
    return *kept;
}

} // namespace

int putEnvironmentAll(const std::vector<std::string>& assignments) {
    std::vector<char*> entries;
    std::unordered_map<std::string, std::size_t> byName;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const std::string name = equals == nullptr ? std::string(*entry) : std::string(*entry, static_cast<std::size_t>(equals - *entry));
        byName.emplace(name, entries.size());
        entries.push_back(*entry);
    }
    int result = 0;
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) {
            result = -1;
            continue;
        }
        // Like putenv's, the text stays for as long as the process runs.
        char* kept = nullptr;
        if (equals + 1 < assignment.size()) {
            kept = new char[assignment.size() + 1];
            std::memcpy(kept, assignment.c_str(), assignment.size() + 1);
            processLifetime().push_back(kept);
        }
        const auto [found, added] = byName.emplace(assignment.substr(0, equals), entries.size());
        if (added) entries.push_back(kept);
        else entries[found->second] = kept;
    }
    // An empty value removes the variable: its place is left out here.
    char** rebuilt = new char*[entries.size() + 1];
    processLifetime().push_back(reinterpret_cast<char*>(rebuilt));
    std::size_t count = 0;
    for (char* entry : entries)
        if (entry != nullptr) rebuilt[count++] = entry;
    rebuilt[count] = nullptr;
    // The array replaced may be the system's own or an earlier one of ours:
    // neither is freed, as the C library may still hold on to it.
    environ = rebuilt;
    return result;
}

StartRoom startRoom() {
    StartRoom room;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        room.environmentBytes += std::strlen(*entry) + 1 + sizeof(char*);
    constexpr std::uint64_t floor = 128 * 1024;
    constexpr std::uint64_t ceiling = 6 * 1024 * 1024;
    struct rlimit stack;
    std::uint64_t limit = ceiling;
    if (getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY)
        limit = std::min<std::uint64_t>(ceiling, stack.rlim_cur / 4);
    room.limit = std::max(limit, floor);
    return room;
}

} // namespace posix
} // namespace talve
