#include "native.h"

#include <windows.h>

#include <direct.h>
#include <io.h>

#include <cstdio>
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

} // namespace unpack
} // namespace talve
