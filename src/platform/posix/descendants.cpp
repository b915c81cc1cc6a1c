#include "platform/posix/descendants.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace talve {
namespace posix {

namespace {

// A process that forks while the launcher kills its family shows up in the
// next look; a family that keeps growing faster than this is not stopped
// here, but the ones that were seen are.
constexpr int looks = 20;

struct ProcessState {
    pid_t parent = 0;
    bool ended = false; // a zombie: nothing left to stop
};

// The parent of a process from /proc/<pid>/stat, whose second field (the
// program name in parentheses) may itself hold blanks and parentheses.
bool readState(pid_t pid, ProcessState& state) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return false;
    char buffer[1024];
    const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[got] = '\0';
    const char* nameEnd = std::strrchr(buffer, ')');
    if (nameEnd == nullptr) return false;
    char kind = 0;
    int parent = 0;
    if (std::sscanf(nameEnd + 1, " %c %d", &kind, &parent) != 2) return false;
    state.parent = parent;
    state.ended = kind == 'Z' || kind == 'X';
    return true;
}

std::vector<pid_t> livingDescendants(pid_t ancestor) {
    std::map<pid_t, ProcessState> processes;
    if (DIR* listing = opendir("/proc")) {
        while (const dirent* entry = readdir(listing)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            ProcessState state;
            if (pid > 0 && *end == '\0' && readState(static_cast<pid_t>(pid), state))
                processes[static_cast<pid_t>(pid)] = state;
        }
        closedir(listing);
    }
    std::vector<pid_t> found;
    for (const auto& [pid, state] : processes) {
        if (state.ended) continue;
        // Parent links lead upwards to the launcher or to the start of the
        // system; a bounded climb also survives a view that changed meanwhile.
        pid_t up = state.parent;
        for (std::size_t steps = 0; up > 0 && up != ancestor && steps < processes.size(); ++steps) {
            const auto parent = processes.find(up);
            up = parent == processes.end() ? 0 : parent->second.parent;
        }
        if (up == ancestor) found.push_back(pid);
    }
    return found;
}

} // namespace

bool adoptOrphanedDescendants() { return prctl(PR_SET_CHILD_SUBREAPER, 1) == 0; }

void stopAllDescendants() {
    const pid_t self = getpid();
    for (int i = 0; i < looks; ++i) {
        const std::vector<pid_t> family = livingDescendants(self);
        if (family.empty()) return;
        for (pid_t pid : family) kill(pid, SIGKILL);
    }
}

void reapAdoptedDescendants() {
    int status = 0;
    while (waitpid(-1, &status, WNOHANG) > 0) {
    }
}

} // namespace posix
} // namespace talve
