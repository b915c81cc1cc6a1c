#include "platform/win32/tree_removal.h"

#include <windows.h>

#include <vector>

namespace talve {
namespace win32 {

namespace {

std::string describe(DWORD error) {
    char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) --length;
    return length == 0 ? "error " + std::to_string(error) : std::string(text, length);
}

bool gone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

class Walk {
public:
    TreeRemoval result;

    void leave(const std::string& path, DWORD error) {
        if (result.entriesLeft++ == 0) result.firstLeft = path + " (" + describe(error) + ")";
    }

    // attributes as the listing gave them, without following anything.
    void removeEntry(const std::string& path, DWORD attributes) {
        const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        // A read-only entry is the run's own all the same.
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
            SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (directory && !link) empty(path);
        const BOOL removed = directory ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
        const DWORD error = removed ? ERROR_SUCCESS : GetLastError();
        if (!removed && !gone(error)) leave(path, error);
    }

    void empty(const std::string& dir) {
        // The listing is read whole before anything goes, so that no search
        // handle stays open while the level below is removed.
        std::vector<std::pair<std::string, DWORD>> entries;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileExA((dir + "\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                         nullptr, 0);
        if (search == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (!gone(error)) leave(dir, error);
            return;
        }
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            entries.emplace_back(dir + "\\" + name, found.dwFileAttributes);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        for (const auto& [path, attributes] : entries) removeEntry(path, attributes);
    }
};

} // namespace

TreeRemoval removeTree(const std::string& dir) {
    Walk walk;
    const DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (gone(error)) walk.result.removed = true;
        else walk.leave(dir, error);
        return walk.result;
    }
    walk.removeEntry(dir, attributes);
    walk.result.removed = walk.result.entriesLeft == 0;
    return walk.result;
}

} // namespace win32
} // namespace talve
