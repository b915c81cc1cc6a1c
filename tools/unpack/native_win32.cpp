#include "native.h"

#include <windows.h>

#include <direct.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace talve {
namespace unpack {

const char kPathSeparator = '\\';

namespace {

// Leaves the reason of a failed Win32 call in errno, where the callers look.
bool failWith(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_DIR_NOT_EMPTY:
        errno = ENOTEMPTY;
        break;
    case ERROR_INVALID_NAME:
    case ERROR_NO_UNICODE_TRANSLATION:
        errno = EINVAL;
        break;
    case ERROR_NOT_SUPPORTED:
    case ERROR_PRIVILEGE_NOT_HELD:
        errno = ENOSYS;
        break;
    default:
        errno = EIO;
        break;
    }
    return false;
}

bool failWithLastError() {
    return failWith(GetLastError());
}

// A NUL-terminated UTF-16 name. Not std::wstring: its code lives in the
// C++ library, and would come along into the unpacker with all it needs.
class Wide {
public:
    Wide() : text_(1, L'\0') {}
    Wide(const wchar_t* begin, std::size_t size) : text_(begin, begin + size) { text_.push_back(L'\0'); }

    const wchar_t* c_str() const { return text_.data(); }
    std::size_t size() const { return text_.size() - 1; }
    bool empty() const { return size() == 0; }

    Wide operator+(const wchar_t* tail) const {
        Wide joined(*this);
        joined.text_.pop_back();
        while (*tail != L'\0') joined.text_.push_back(*tail++);
        joined.text_.push_back(L'\0');
        return joined;
    }

    // The position of the last "\" or "/", or size() when there is none.
    std::size_t lastSeparator() const {
        for (std::size_t at = size(); at > 0; --at) {
            if (text_[at - 1] == L'\\' || text_[at - 1] == L'/') return at - 1;
        }
        return size();
    }

    Wide prefix(std::size_t length) const { return Wide(text_.data(), length); }

private:
    std::vector<wchar_t> text_;
};

// An empty result with errno set when `text` is not valid UTF-8: a name
// that cannot be spelled is refused rather than guessed at.
Wide wide(const std::string& text) {
    if (text.empty()) return Wide();
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        failWithLastError();
        return Wide();
    }
    std::vector<wchar_t> result(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), result.data(),
                        length);
    return Wide(result.data(), result.size());
}

std::string narrow(const wchar_t* text, std::size_t size) {
    if (size == 0) return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(size), nullptr, 0,
                                           nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(size), &result[0], length, nullptr,
                        nullptr);
    return result;
}

bool isDots(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

bool isDirectory(const Wide& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool makeDirectoriesWide(const Wide& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS) return isDirectory(path) || failWith(code);
    const std::size_t cut = path.lastSeparator();
    if (code != ERROR_PATH_NOT_FOUND || cut == path.size() || cut == 0) return failWith(code);
    if (!makeDirectoriesWide(path.prefix(cut))) return false;
    if (CreateDirectoryW(path.c_str(), nullptr)) return true;
    return (GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path)) || failWithLastError();
}

bool removeTreeWide(const Wide& path) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    bool removed = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (isDots(data.cFileName)) continue;
            const Wide child = path + L"\\" + data.cFileName;
            const DWORD attributes = data.dwFileAttributes;
            // A link to a folder is a folder entry with a reparse point:
            // removed itself, never entered.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                removed = removeTreeWide(child) && removed;
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

} // namespace

std::string ownExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) return narrow(buffer.data(), length);
        // Cut to fit: grow and ask again.
        buffer.resize(buffer.size() * 2);
    }
}

std::string absolutePath(const std::string& path) {
    const Wide name = wide(path);
    const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (name.empty() || length == 0) return path;
    std::vector<wchar_t> full(length);
    const DWORD written = GetFullPathNameW(name.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) return path;
    return narrow(full.data(), written);
}

std::FILE* openFile(const std::string& path, const char* mode) {
    const Wide name = wide(path);
    if (name.empty()) return nullptr;
    // Modes are a few ASCII letters.
    wchar_t wideMode[8] = {};
    for (std::size_t i = 0; i + 1 < sizeof wideMode / sizeof wideMode[0] && mode[i] != '\0'; ++i) wideMode[i] = mode[i];
    return _wfopen(name.c_str(), wideMode);
}

bool fileSize(const std::string& path, std::uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    const Wide name = wide(path);
    if (name.empty()) return false;
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return failWithLastError();
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool availableSpace(const std::string& path, std::uint64_t& available) {
    ULARGE_INTEGER free;
    const Wide name = wide(path);
    if (name.empty() || !GetDiskFreeSpaceExW(name.c_str(), &free, nullptr, nullptr)) return false;
    available = free.QuadPart;
    return true;
}

PathKind pathKind(const std::string& path) {
    const Wide name = wide(path);
    if (name.empty()) return PathKind::Other;
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? PathKind::Missing : PathKind::Other;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::Other;
}

bool makeNewDirectory(const std::string& path) {
    const Wide name = wide(path);
    return !name.empty() && (CreateDirectoryW(name.c_str(), nullptr) || failWithLastError());
}

bool makeDirectories(const std::string& path) {
    const Wide name = wide(path);
    return !name.empty() && makeDirectoriesWide(name);
}

// Unlike rename on POSIX systems, this never replaces an existing name.
bool renameDirectory(const std::string& from, const std::string& to) {
    const Wide source = wide(from);
    const Wide target = wide(to);
    return !source.empty() && !target.empty() && (MoveFileW(source.c_str(), target.c_str()) || failWithLastError());
}

bool removeEmptyDirectory(const std::string& path) {
    const Wide name = wide(path);
    return !name.empty() && (RemoveDirectoryW(name.c_str()) || failWithLastError());
}

bool removeFile(const std::string& path) {
    const Wide name = wide(path);
    if (name.empty()) return false;
    // A link to a folder is removed as a folder.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return RemoveDirectoryW(name.c_str()) || failWithLastError();
    }
    return DeleteFileW(name.c_str()) || failWithLastError();
}

// Links need a privilege most installing users lack; a runtime for Windows
// carries none.
bool makeSymlink(const std::string&, const std::string&) {
    return failWith(ERROR_NOT_SUPPORTED);
}

bool isEmptyDirectory(const std::string& path) {
    const Wide name = wide(path);
    if (name.empty()) return false;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((name + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool empty = true;
    do {
        if (!isDots(data.cFileName)) empty = false;
    } while (empty && FindNextFileW(find, &data));
    FindClose(find);
    return empty;
}

bool removeTree(const std::string& path) {
    const Wide name = wide(path);
    return !name.empty() && removeTreeWide(name);
}

OutputFile::~OutputFile() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool OutputFile::create(const std::string& path, std::uint64_t size) {
    const Wide name = wide(path);
    if (name.empty()) return false;
    // CREATE_NEW fails on any existing name, a link included.
    const HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failWithLastError();
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    if (size > 0) {
        // Reserves the clusters without moving the end of the file; where
        // the file system cannot, the file simply grows.
        FILE_ALLOCATION_INFO allocation;
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
        SetFileInformationByHandle(handle, FileAllocationInfo, &allocation, sizeof allocation);
    }
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    const HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle, next, chunk, &written, nullptr)) return failWithLastError();
        next += written;
        size -= written;
    }
    return true;
}

bool OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    const HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        // On a handle opened without overlapped I/O the offset alone makes
        // the write positional; the call still completes before it returns.
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(handle, next, chunk, &written, &at)) return failWithLastError();
        next += written;
        offset += written;
        size -= written;
    }
    return true;
}

bool OutputFile::markExecutable() {
    return true;
}

bool OutputFile::close() {
    const HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    handle_ = -1;
    return CloseHandle(handle) || failWithLastError();
}

unsigned processorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

namespace {
struct ThreadStart {
    void (*run)(void*);
    void* argument;
};

DWORD WINAPI threadMain(LPVOID start) {
    const ThreadStart copy = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    copy.run(copy.argument);
    return 0;
}
} // namespace

bool startThread(void (*run)(void*), void* argument, std::uintptr_t& thread) {
    auto* start = new ThreadStart{run, argument};
    const HANDLE handle = CreateThread(nullptr, 0, threadMain, start, 0, nullptr);
    if (handle == nullptr) {
        delete start;
        return false;
    }
    thread = reinterpret_cast<std::uintptr_t>(handle);
    return true;
}

void joinThread(std::uintptr_t thread) {
    const HANDLE handle = reinterpret_cast<HANDLE>(thread);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
}

struct Monitor::State {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};

Monitor::Monitor() : state_(new State) {}
Monitor::~Monitor() { delete state_; }
void Monitor::lock() { AcquireSRWLockExclusive(&state_->lock); }
void Monitor::unlock() { ReleaseSRWLockExclusive(&state_->lock); }
void Monitor::wait() { SleepConditionVariableSRW(&state_->condition, &state_->lock, INFINITE, 0); }
void Monitor::notifyAll() { WakeAllConditionVariable(&state_->condition); }

} // namespace unpack
} // namespace talve
