#include "writer_files.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <string>

namespace talve {
namespace files {
namespace {

std::string systemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "system error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

std::FILE* streamOf(HANDLE handle, int flags, const char* mode, std::string& problem) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        CloseHandle(handle);
        problem = "no file descriptor left";
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, mode);
    if (file == nullptr) {
        _close(fd);
        problem = "no stream left";
    }
    return file;
}

} // namespace

std::FILE* createNewFile(const std::filesystem::path& path, bool& exists, std::string& problem) {
    // CREATE_NEW fails on any existing name, a link included.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | GENERIC_READ, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD code = GetLastError();
    exists = handle == INVALID_HANDLE_VALUE && (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS);
    if (handle == INVALID_HANDLE_VALUE) {
        problem = systemMessage(code);
        return nullptr;
    }
    return streamOf(handle, _O_WRONLY | _O_BINARY, "wb", problem);
}

bool replaceFile(const std::filesystem::path& source, const std::filesystem::path& target, std::string& problem) {
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    problem = systemMessage(GetLastError());
    return false;
}

std::FILE* openRegularFile(const std::filesystem::path& path, std::uint64_t& size, std::string& problem) {
    // Backup semantics let a folder open too, so that it is named as one.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        problem = systemMessage(GetLastError());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info);
    if (!disk || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        problem = disk ? "is a folder, not a file" : "is not a regular file (a device or a pipe?)";
        CloseHandle(handle);
        return nullptr;
    }
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return streamOf(handle, _O_RDONLY | _O_BINARY, "rb", problem);
}

bool seekFile(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool tellFile(std::FILE* file, std::uint64_t& offset) {
    const __int64 position = _ftelli64(file);
    if (position < 0) return false;
    offset = static_cast<std::uint64_t>(position);
    return true;
}

} // namespace files
} // namespace talve
