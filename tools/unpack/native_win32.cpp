#include "native.h"

#include <windows.h>

#include <direct.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace talve {
namespace unpack {

std::filesystem::path ownExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::filesystem::path();
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        // Cut to fit: grow and ask again.
        buffer.resize(buffer.size() * 2);
    }
}

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
}

bool makeNewDirectory(const std::filesystem::path& path) {
    return _wmkdir(path.c_str()) == 0;
}

// Unlike rename on POSIX systems, this never replaces an existing name.
bool renameDirectory(const std::filesystem::path& from, const std::filesystem::path& to) {
    return _wrename(from.c_str(), to.c_str()) == 0;
}

bool removeEmptyDirectory(const std::filesystem::path& path) {
    return _wrmdir(path.c_str()) == 0;
}

namespace {

bool isDots(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

} // namespace

bool isEmptyDirectory(const std::filesystem::path& path) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((path / L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool empty = true;
    do {
        if (!isDots(data.cFileName)) empty = false;
    } while (empty && FindNextFileW(find, &data));
    FindClose(find);
    return empty;
}

bool removeTree(const std::filesystem::path& path) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((path / L"*").c_str(), &data);
    bool removed = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (isDots(data.cFileName)) continue;
            const std::filesystem::path child = path / data.cFileName;
            const DWORD attributes = data.dwFileAttributes;
            // A link to a folder is a folder entry with a reparse point:
            // removed itself, never entered.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                removed = removeTree(child) && removed;
            } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                removed = RemoveDirectoryW(child.c_str()) && removed;
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                removed = DeleteFileW(child.c_str()) && removed;
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return RemoveDirectoryW(path.c_str()) && removed;
}

} // namespace unpack
} // namespace talve
