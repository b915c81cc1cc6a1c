// The platform on Windows: the Win32 and C runtime calls the launcher is
// built around, plus the care an elevated installer needs in folders that
// other users or downloads can reach.

#include "platform/platform.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/path_rights.h"
#include "platform/win32/tree_removal.h"
#include "platform/win32/win32_interruption.h"
#include "platform/win32/block_clone.h"
#include "platform/win32/console_input.h"
#include "platform/splash_window.h"
#include "platform/win32/gdi_splash_window.h"

#include <windows.h>
#include <aclapi.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace talve {
namespace {

using win32::OwnedHandle;

// Loading DLLs from the executable's own folder lets a file planted in a
// downloads folder run with the installer's rights. The call only exists
// from Windows 8 (and Windows 7 with KB2533623), hence the run-time look-up.
void restrictDllSearchToSystemDirectory() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) {
        return;
    }
    FARPROC found = GetProcAddress(kernel32, "SetDefaultDllDirectories");
    if (found != nullptr) {
        // Through void(*)(void), the one function type GCC lets pass unwarned.
        auto setDefaultDllDirectories =
            reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)(void)>(found));
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

// The program CreateProcessA would take from a command line: the first
// blank-separated word, or the text between leading double quotes.
std::string programOf(const std::string& commandLine) {
    if (!commandLine.empty() && commandLine[0] == '"') {
        std::size_t closing = commandLine.find('"', 1);
        return commandLine.substr(1, closing == std::string::npos ? std::string::npos : closing - 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(" \t"));
}

// CreateProcessA looks for a bare program name in the executable's folder
// and in the current directory before the system folder. The launcher runs
// "cmd.exe" from its downloads folder and from the temporary base (possibly
// a shared folder), so a bare name found in the system folder is taken from
// there. Empty: let CreateProcessA search as usual.
std::string systemProgramPath(const std::string& program) {
    if (program.empty() || program.find_first_of("\\/:") != std::string::npos) {
        return {};
    }
    char systemDirectory[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    std::string candidate = std::string(systemDirectory, length) + "\\" + program;
    if (program.find('.') == std::string::npos) {
        candidate += ".exe";
    }
    DWORD attributes = GetFileAttributesA(candidate.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    return candidate;
}

HANDLE openNullDevice(SECURITY_ATTRIBUTES& inheritable) {
    return CreateFileA("NUL", GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A started child: the process, and the job object that holds it and every
// process it starts, so that an interruption can stop them all. The gate
// knows a child by the address of this record.
struct StartedChild {
    OwnedHandle process;
    OwnedHandle job;
    InterruptionGate::ChildId id() const { return reinterpret_cast<InterruptionGate::ChildId>(this); }
};

// Starts a command line with its window hidden, in a job object of its own.
// Handles are always inherited: with its output redirected the child needs
// the handles given here, and otherwise it needs the launcher's own standard
// handles, which without inheritance are lost whenever the launcher's output
// is redirected to a file or a pipe. False when it could not be started.
bool startHidden(const std::string& commandLine, bool detach, HANDLE output, HANDLE errors, StartedChild& child) {
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (output != nullptr && output != INVALID_HANDLE_VALUE && errors != nullptr && errors != INVALID_HANDLE_VALUE) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = errors;
    }

    std::string program = systemProgramPath(programOf(commandLine));
    std::vector<char> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back('\0');

    PROCESS_INFORMATION started;
    std::memset(&started, 0, sizeof started);
    // Suspended until it is in the job, so that nothing it starts escapes.
    // Where the job cannot take it (an older Windows that does not nest
    // jobs, with the launcher in one already) the child runs without.
    auto start = [&]() -> InterruptionGate::ChildId {
        const DWORD flags = CREATE_SUSPENDED | (detach ? DETACHED_PROCESS : 0);
        if (!CreateProcessA(program.empty() ? nullptr : program.c_str(), writableCommandLine.data(), nullptr, nullptr,
                            TRUE, flags, nullptr, nullptr, &startup, &started)) {
            return 0;
        }
        child.process.reset(started.hProcess);
        child.job.reset(CreateJobObjectA(nullptr, nullptr));
        if (child.job.valid() && !AssignProcessToJobObject(child.job.get(), started.hProcess)) {
            CloseHandle(child.job.release());
        }
        ResumeThread(started.hThread);
        CloseHandle(started.hThread);
        return child.id();
    };
    return win32::processGate().startChild(start) != 0;
}

void stopWithEverythingItStarted(const StartedChild& child, UINT exitCode) {
    if (!child.job.valid() || !TerminateJobObject(child.job.get(), exitCode)) {
        TerminateProcess(child.process.get(), exitCode);
    }
}

// Waits for the child's end, at most until the limit (INFINITE: none);
// false when it is still running then.
bool awaitEnd(const StartedChild& child, DWORD limit) {
    DWORD waited;
    do {
        waited = WaitForSingleObject(child.process.get(), limit);
    } while (waited == WAIT_TIMEOUT && limit == INFINITE);
    return waited != WAIT_TIMEOUT;
}

ProcessOutcome finish(const StartedChild& child) {
    // Before the handles close: the console control handler may still stop
    // the child and its job through them.
    win32::processGate().childEnded(child.id());
    DWORD exitCode;
    if (WaitForSingleObject(child.process.get(), 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(child.process.get(), &exitCode)) {
        return {};
    }
    return {true, static_cast<int>(exitCode)};
}

// Reads what the pipe holds without waiting for more; false once it has ended.
bool readAvailable(HANDLE pipe, std::size_t limit, std::string& kept) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return false;
        }
        if (available == 0) {
            return true;
        }
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) ||
            got == 0) {
            return false;
        }
        std::size_t room = limit > kept.size() ? limit - kept.size() : 0;
        kept.append(buffer, room < got ? room : got);
    }
}

} // namespace

void win32::stopChild(InterruptionGate::ChildId child, UINT exitCode) {
    stopWithEverythingItStarted(*reinterpret_cast<const StartedChild*>(child), exitCode);
}

namespace {

bool isLinkOrMissing(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Fills buffer with one kind of token information; false when it cannot.
bool readTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<unsigned char>& buffer) {
    DWORD needed = 0;
    GetTokenInformation(token, kind, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    buffer.resize(needed);
    return GetTokenInformation(token, kind, buffer.data(), needed, &needed) != FALSE;
}

// An elevated administrator's new files belong to the Administrators group
// (the token's default owner) rather than to the user, so either is ours.
bool ownedByThisUser(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    bool owned = false;
    HANDLE rawToken = nullptr;
    if (owner != nullptr && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
        OwnedHandle token(rawToken);
        std::vector<unsigned char> user;
        std::vector<unsigned char> defaultOwner;
        if (readTokenInformation(token.get(), TokenUser, user)) {
            owned = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid) != FALSE;
        }
        if (!owned && readTokenInformation(token.get(), TokenOwner, defaultOwner)) {
            owned = EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner) != FALSE;
        }
    }
    LocalFree(descriptor);
    return owned;
}

// FAT32 and exFAT drives, and some network shares, keep no owner or access
// list at all: there every directory is anybody's, and asking whose it is
// cannot tell this user's apart from another's.
bool volumeKeepsOwners(HANDLE file) {
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        return true;
    }
    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

// The handle is on a real directory (no junction or link) of this user's.
bool isPrivateDirectory(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        return false;
    }
    DWORD attributes = information.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    return !volumeKeepsOwners(handle) || ownedByThisUser(handle);
}

// Turns a handle from CreateFileA into a stdio stream, which then owns it.
// Handles made this way are not inheritable, unlike those of fopen, so the
// children (started with handle inheritance on) do not get the launcher's
// files.
std::FILE* streamFromHandle(HANDLE handle, int descriptorFlags, const char* mode) {
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), descriptorFlags);
    if (descriptor == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, mode);
    if (stream == nullptr) {
        _close(descriptor);
    }
    return stream;
}

// A handle on the directory itself. It asks for the right to add files,
// which its own share mode does not grant, so a second such handle (another
// launcher's lock) is refused; it shares reading, so others may list the
// directory, open its files and make it their current directory (which
// Windows opens with read access, sharing no deletion); and it shares no
// deletion, so nobody can delete or rename the directory meanwhile. It does
// not ask for the right to delete the directory itself: every later handle on
// the directory that shares no deletion, the current directory of the
// launcher and of its children among them, would then be refused.
class Win32FileLock final : public FileLock {
public:
    explicit Win32FileLock(HANDLE handle) : handle_(handle) {}

private:
    OwnedHandle handle_;
};

class Win32Platform final : public Platform {
public:
    const PlatformConventions& conventions() const override { return conventions_; }

    // Forward slashes do not count: "/tmp/" is joined to the current directory.
    bool isAbsolutePath(const std::string& path) const override {
        return path.empty() || path[0] == '\\' || path.find(':') == 1;
    }

    // --- directories -------------------------------------------------------

    std::optional<std::string> currentDirectory() override {
        char buffer[1001];
        if (_getcwd(buffer, sizeof buffer) == nullptr) {
            return std::nullopt;
        }
        return std::string(buffer);
    }

    int changeDirectory(const std::string& dir) override { return _chdir(dir.c_str()); }

    int createDirectory(const std::string& dir) override { return _mkdir(dir.c_str()); }

    // The name is looked at first (Wine shows a Unix symbolic link only
    // there), then the directory is checked on a handle held without delete
    // sharing, so that it cannot be renamed away and replaced by a junction
    // between the checks and _chdir.
    bool enterPrivateDirectory(const std::string& dir) override {
        if (isLinkOrMissing(dir)) {
            return false;
        }
        OwnedHandle pinned(CreateFileA(dir.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!pinned.valid()) {
            return false;
        }
        if (!isPrivateDirectory(pinned.get())) {
            return false;
        }
        return _chdir(dir.c_str()) == 0;
    }

    std::optional<std::vector<std::string>> listDirectory(const std::string& dir) override {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        std::vector<std::string> names;
        do {
            names.emplace_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }

    TreeRemoval removeTree(const std::string& dir) override { return win32::removeTree(dir); }

    std::optional<std::uint64_t> freeBytesForUser(const std::string& dir) override {
        ULARGE_INTEGER availableToCaller;
        ULARGE_INTEGER total;
        if (!GetDiskFreeSpaceExA(dir.c_str(), &availableToCaller, &total, nullptr)) {
            return std::nullopt;
        }
        return availableToCaller.QuadPart;
    }

    // --- environment -------------------------------------------------------

    std::optional<std::string> getEnvironment(const std::string& name) override {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) {
            return std::nullopt;
        }
        return std::string(value);
    }

    // _putenv may keep pointing at the text it was given, so each text gets
    // memory of its own that is deliberately never released.
    int putEnvironment(const std::string& assignment) override {
        char* kept = new char[assignment.size() + 1];
        std::memcpy(kept, assignment.c_str(), assignment.size() + 1);
        return _putenv(kept);
    }

    int putEnvironmentAll(const std::vector<std::string>& assignments) override {
        int result = 0;
        for (const std::string& assignment : assignments) {
            if (putEnvironment(assignment) != 0) {
                result = -1;
            }
        }
        return result;
    }

    // Windows sets no limit on a new program's environment block (only each
    // variable is held to 32,767 characters); the count is for the log.
    StartRoom startRoom() override {
        StartRoom room;
        LPCH block = GetEnvironmentStringsA();
        if (block == nullptr) {
            return room;
        }
        const char* entry = block;
        while (*entry != '\0') {
            const std::size_t length = std::strlen(entry) + 1;
            room.environmentBytes += length;
            entry += length;
        }
        FreeEnvironmentStringsA(block);
        return room;
    }

    // --- this process ------------------------------------------------------

    // Long-path awareness lets the path outgrow MAX_PATH.
    std::string executablePath() override {
        std::vector<char> buffer(MAX_PATH);
        for (;;) {
            DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (length == 0) {
                return {};
            }
            if (length < buffer.size()) {
                return std::string(buffer.data(), length);
            }
            if (buffer.size() >= 32768) {
                return {};
            }
            buffer.resize(buffer.size() * 2);
        }
    }

    // --- child processes ---------------------------------------------------

    ProcessOutcome runProcess(const std::string& commandLine, bool detach, bool discardOutput) override {
        return runHidden(commandLine, detach, discardOutput, INFINITE);
    }

    ProcessOutcome runProcessWithin(const std::string& commandLine, bool discardOutput,
                                    std::chrono::milliseconds timeLimit) override {
        const auto milliseconds = timeLimit.count() < 0 ? 0 : timeLimit.count();
        const DWORD limit = milliseconds >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(milliseconds);
        return runHidden(commandLine, false, discardOutput, limit);
    }

    ProcessOutcome runProcessKeepingErrors(const std::string& commandLine, std::size_t limit,
                                           std::string& errorOutput) override {
        errorOutput.clear();
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        OwnedHandle nul(openNullDevice(inheritable));
        HANDLE rawRead = nullptr;
        HANDLE rawWrite = nullptr;
        if (!CreatePipe(&rawRead, &rawWrite, &inheritable, 0)) {
            return {};
        }
        OwnedHandle readEnd(rawRead);
        OwnedHandle writeEnd(rawWrite);
        // The launcher's end stays with the launcher, or the pipe never ends.
        SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
        StartedChild child;
        const bool started = startHidden(commandLine, false, nul.get(), writeEnd.get(), child);
        CloseHandle(writeEnd.release());
        if (!started) {
            return {};
        }
        // Read while the child runs, so that it never blocks on a full pipe;
        // the pipe's end is not awaited, since a program the child started
        // may hold it open long after the child has ended.
        bool open = true;
        while (!awaitEnd(child, open ? 20 : INFINITE)) {
            open = readAvailable(readEnd.get(), limit, errorOutput);
        }
        readAvailable(readEnd.get(), limit, errorOutput);
        return finish(child);
    }

    // --- console -----------------------------------------------------------

    bool consoleOwnedAlone() override {
        DWORD processes[40];
        return GetConsoleProcessList(processes, 40) == 1;
    }

    void showConsoleWindow(bool visible) override {
        HWND console = GetConsoleWindow();
        if (console != nullptr) {
            ShowWindow(console, visible ? SW_SHOW : SW_HIDE);
        }
    }

    // --- files -------------------------------------------------------------

    // Only ever called inside the run's private directory.
    std::FILE* createPrivateFile(const std::string& path) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        return streamFromHandle(file, 0, "w+b");
    }

    // The log lies in a folder other users may write to, with a name they can
    // guess, and an elevated launcher must not write to a file they put
    // there: the file is only ever made new (a link at that name is not
    // followed either), and what the handle shows is checked once more.
    std::FILE* openLogFile(const std::string& path) override {
        OwnedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.valid()) {
            return nullptr;
        }
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(file.get(), &information)) {
            return nullptr;
        }
        DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
        if ((information.dwFileAttributes & refused) != 0 || information.nNumberOfLinks > 1) {
            return nullptr;
        }
        // Text mode: lines end in CR LF like every other text file on Windows.
        return streamFromHandle(file.release(), _O_APPEND | _O_TEXT, "a");
    }

    // Shared as fopen shares: the installer may be read by others meanwhile.
    std::FILE* openForReading(const std::string& path) override {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        return streamFromHandle(file, _O_RDONLY, "rb");
    }

    bool markExecutable(const std::string&) override { return true; }

    bool seek(std::FILE* file, std::uint64_t offset) override {
        if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
            return false;
        }
        return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
    }

    // Leaves the stream where it was.
    std::optional<std::uint64_t> fileSize(std::FILE* file) override {
        __int64 position = _ftelli64(file);
        if (position < 0 || _fseeki64(file, 0, SEEK_END) != 0) {
            return std::nullopt;
        }
        __int64 size = _ftelli64(file);
        if (_fseeki64(file, position, SEEK_SET) != 0 || size < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(size);
    }

    // Straight between the two handles in large blocks: no stdio buffer in
    // between, and few system calls for a payload of hundreds of megabytes.
    CopyStatus copyFileRange(std::FILE* source, std::uint64_t offset, std::FILE* destination,
                             std::uint64_t length) override {
        if (std::fflush(destination) != 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) {
            return CopyStatus::writeFailed;
        }
        HANDLE in = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(source)));
        HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(destination)));
        if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) {
            return CopyStatus::readFailed;
        }
        const std::uint64_t shared = win32::shareBlocks(in, offset, out, length);
        LARGE_INTEGER start;
        start.QuadPart = static_cast<LONGLONG>(offset + shared);
        if (!SetFilePointerEx(in, start, nullptr, FILE_BEGIN)) {
            return CopyStatus::readFailed;
        }
        // No larger than the payload, and left unfilled: most payloads are
        // small, and every byte is read into before it is written out.
        constexpr std::uint64_t largestBlock = 1 << 20;
        const DWORD blockSize = static_cast<DWORD>(length < largestBlock ? length : largestBlock);
        std::unique_ptr<char[]> block(new char[blockSize == 0 ? 1 : blockSize]);
        for (std::uint64_t remaining = length - shared; remaining > 0;) {
            const DWORD wanted = remaining < blockSize ? static_cast<DWORD>(remaining) : blockSize;
            DWORD got = 0;
            if (!ReadFile(in, block.get(), wanted, &got, nullptr) || got == 0) {
                return CopyStatus::readFailed;
            }
            DWORD put = 0;
            if (!WriteFile(out, block.get(), got, &put, nullptr) || put != got) {
                return CopyStatus::writeFailed;
            }
            remaining -= got;
        }
        return CopyStatus::copied;
    }

    // A pipe, a console or another device named where a text file is
    // expected is refused by its type before anything is read from it.
    FileRead readRegularFile(const std::string& path, std::size_t limit) override {
        FileRead result;
        OwnedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            DWORD error = GetLastError();
            bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
            result.status = missing ? FileReadStatus::missing : FileReadStatus::failed;
            return result;
        }
        if (GetFileType(file.get()) != FILE_TYPE_DISK) {
            result.status = FileReadStatus::notRegularFile;
            return result;
        }
        char buffer[8192];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
                result.content.clear();
                return result;
            }
            if (got == 0) {
                break;
            }
            if (result.content.size() + got > limit) {
                result.content.clear();
                result.status = FileReadStatus::tooLarge;
                return result;
            }
            result.content.append(buffer, got);
        }
        result.status = FileReadStatus::ok;
        return result;
    }

    // --- reboot ------------------------------------------------------------

    DirectoryLock lockDirectory(const std::string& dir) override {
        DirectoryLock result;
        // Wine shows a Unix symbolic link only in the name's attributes.
        if (isLinkOrMissing(dir)) {
            return result;
        }
        OwnedHandle handle(CreateFileA(dir.c_str(), FILE_ADD_FILE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!handle.valid()) {
            if (GetLastError() == ERROR_SHARING_VIOLATION) {
                result.status = DirectoryLockStatus::inUse;
            }
            return result;
        }
        if (!isPrivateDirectory(handle.get())) {
            return result;
        }
        result.status = DirectoryLockStatus::taken;
        result.lock = std::make_unique<Win32FileLock>(handle.release());
        return result;
    }

    // Runtimes found by an elevated run are not vetted on Windows yet: Wine,
    // where the tests run, reports every token elevated and every Z: path a
    // link, so the vetting cannot be tested there end to end. Until it is,
    bool runsElevated() override { return win32::runsElevated(); }
    std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries) override {
        return win32::writableByOthers(path, foldersAbove, mayAddEntries);
    }
    std::string treeWritableByOthers(const std::string& root) override { return win32::treeWritableByOthers(root); }

    ShutdownRight acquireShutdownRight() override {
        ShutdownRight right;
        HANDLE rawToken = nullptr;
        right.tokenOpened = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &rawToken) != FALSE;
        OwnedHandle token(right.tokenOpened ? rawToken : nullptr);

        TOKEN_PRIVILEGES privileges;
        std::memset(&privileges, 0, sizeof privileges);
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        right.privilegeFound = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) != FALSE;

        // Whether the privilege was really granted shows in the restart itself.
        if (right.tokenOpened && right.privilegeFound) {
            AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
        }
        return right;
    }

    bool restartMachine() override { return InitiateSystemShutdownA(nullptr, nullptr, 0, TRUE, TRUE) != FALSE; }

    // --- single-instance lock, interruption and exit ---------------------------

    InstanceLockResult takeInstanceLock(const std::string& name) override { return win32::createInstanceMutex(name); }
    std::string instanceLockProblem() override { return win32::instanceMutexProblem(); }
    bool confirmInstanceLock() override { return win32::confirmInstanceMutex(); }
    void releaseInstanceLock() override { win32::releaseInstanceMutex(); }
    bool installInterruptHandler(std::function<void()> onInterrupt) override {
        return win32::installConsoleControlHandler(std::move(onInterrupt));
    }
    bool runAtExit(std::function<void()> handler) override { return win32::runAtExit(std::move(handler)); }
    void beginKeyEntry() override { beginConsoleKeyEntry(); }
    int readKeystroke() override { return readConsoleKeystroke(); }
    void endKeyEntry() override {}
    bool randomBytes(std::uint8_t* buffer, std::size_t size) override { return systemRandomBytes(buffer, size); }
    std::unique_ptr<SplashWindow> createSplashWindow() override { return makeGdiSplashWindow(); }

private:
    // With its output discarded the child gets the "NUL" handle; without the
    // null device the output stays visible, which harms nobody.
    ProcessOutcome runHidden(const std::string& commandLine, bool detach, bool discardOutput, DWORD limit) {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        OwnedHandle nul(discardOutput ? openNullDevice(inheritable) : nullptr);
        StartedChild child;
        if (!startHidden(commandLine, detach, nul.get(), nul.get(), child)) {
            return {};
        }
        if (awaitEnd(child, limit)) {
            return finish(child);
        }
        stopWithEverythingItStarted(child, 1);
        awaitEnd(child, INFINITE);
        ProcessOutcome outcome = finish(child);
        outcome.completed = false;
        outcome.timedOut = true;
        return outcome;
    }

    const PlatformConventions conventions_{
        "\\", ';', "cmd.exe /c ", {"TEMP", "TMP"}, "", true, "\\\\", "USERPROFILE", ".exe", "", true};
};

} // namespace

// Started without a standard handle (from a service, or by a program that
// gave it none), the C runtime would give that descriptor number to the next
// file the launcher opens (its log), and what the launcher prints would land
// there; children started with inheritance would get no handle either. The
// null device stands in for each handle that is absent.
void fillAbsentStandardHandles() {
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd < 3; ++fd) {
        // -2: the descriptor is kept for a standard stream that has no handle.
        const intptr_t current = _get_osfhandle(fd);
        if (current == -1 || current == -2) {
            const int nul = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
            if (nul < 0) {
                continue;
            }
            if (nul != fd) {
                _dup2(nul, fd);
                _close(nul);
            }
        }
        const HANDLE standard = GetStdHandle(kinds[fd]);
        const intptr_t filled = _get_osfhandle(fd);
        if ((standard == nullptr || standard == INVALID_HANDLE_VALUE) && filled != -1 && filled != -2) {
            HANDLE handle = reinterpret_cast<HANDLE>(filled);
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
            SetStdHandle(kinds[fd], handle);
        }
    }
}

std::unique_ptr<Platform> makeSystemPlatform() {
    fillAbsentStandardHandles();
    restrictDllSearchToSystemDirectory();
    return std::make_unique<Win32Platform>();
}

} // namespace talve
