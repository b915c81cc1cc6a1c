// Checks the Windows platform against the real system (or Wine): processes,
// environment, directories, files and the path rules; with "splash-window",
// the splash window instead (it needs a display). Run from a scratch
// directory, which it leaves as it found it; exit code 0 when every check
// passes. The program is its own child: "child N" exits with N, and
// "probe-stdout" reports where its standard output goes.

#include "platform/platform.h"
#include "platform/win32/path_rights.h"
#include "platform/win32/win32_interruption.h"
#include "platform/splash_window.h"

#include <windows.h>
#include <io.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using talve::Platform;
using talve::ProcessOutcome;

namespace {

int failures = 0;

void check(bool passed, const char* what) {
    std::printf("%s %s\n", passed ? "ok  " : "FAIL", what);
    if (!passed) {
        ++failures;
    }
}

// Exit codes of "probe-stdout", one per kind of standard output.
enum StdoutKind { nullDevice = 10, pipe = 11, diskFile = 12, console = 13, none = 14 };

int stdoutKind() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return none;
    }
    DWORD mode;
    switch (GetFileType(output)) {
    case FILE_TYPE_PIPE: return pipe;
    case FILE_TYPE_DISK: return diskFile;
    case FILE_TYPE_CHAR: return GetConsoleMode(output, &mode) ? console : nullDevice;
    default: return none;
    }
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readWhole(const std::string& path) {
    std::string content;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[256];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            content.append(buffer, got);
        }
        std::fclose(file);
    }
    return content;
}

void checkPathRules(Platform& platform) {
    check(platform.isAbsolutePath(""), "empty path is absolute");
    check(platform.isAbsolutePath("\\x"), "\\x is absolute");
    check(platform.isAbsolutePath("C:\\x") && platform.isAbsolutePath("C:"), "drive paths are absolute");
    check(!platform.isAbsolutePath("x") && !platform.isAbsolutePath("ab:c"), "x and ab:c are relative");
    check(!platform.isAbsolutePath("/tmp/"), "forward slash does not make a path absolute");
    check(platform.conventions().pathSeparator == "\\" && platform.conventions().searchPathSeparator == ';',
          "separators");
}

void checkProcesses(Platform& platform, const std::string& self) {
    ProcessOutcome zero = platform.runProcess(quoted(self) + " child 0", false, true);
    check(zero.completed && zero.exitCode == 0, "child exit code 0");
    ProcessOutcome two = platform.runProcess(quoted(self) + " child 2", false, true);
    check(two.completed && two.exitCode == 2, "child exit code 2");
    ProcessOutcome big = platform.runProcess(quoted(self) + " child 256", false, true);
    check(big.completed && big.exitCode == 256, "child exit code 256 comes back raw");
    ProcessOutcome detached = platform.runProcess(quoted(self) + " child 3", true, true);
    check(detached.completed && detached.exitCode == 3, "detached child is waited for");
    ProcessOutcome missing = platform.runProcess("talve-no-such-program.exe x", false, true);
    check(!missing.completed, "missing program is not completed");

    ProcessOutcome discarded = platform.runProcess(quoted(self) + " probe-stdout", false, true);
    check(discarded.completed && discarded.exitCode == nullDevice, "discarded output goes to NUL");
    ProcessOutcome kept = platform.runProcess(quoted(self) + " probe-stdout", false, false);
    std::printf("     own stdout kind %d, child's without discarding %d\n", stdoutKind(), kept.exitCode);
    check(kept.completed && kept.exitCode == stdoutKind(), "child shares the launcher's standard output");

    ProcessOutcome viaCmd = platform.runProcess(platform.conventions().scriptRunner + "exit 5", false, true);
    check(viaCmd.completed && viaCmd.exitCode == 5, "cmd.exe /c exit 5 gives 5");
}

void checkEnvironment(Platform& platform, const std::string& self) {
    check(platform.putEnvironment("TALVE_SMOKE=one two") == 0, "putEnvironment sets");
    auto value = platform.getEnvironment("TALVE_SMOKE");
    check(value && *value == "one two", "getEnvironment reads it back");
    ProcessOutcome seen = platform.runProcess(quoted(self) + " child-env TALVE_SMOKE", false, true);
    check(seen.completed && seen.exitCode == 0, "child inherits the variable");

    check(platform.putEnvironment("TALVE_SMOKE=") == 0, "putEnvironment with an empty value");
    check(!platform.getEnvironment("TALVE_SMOKE"), "empty value removes the variable");
    ProcessOutcome gone = platform.runProcess(quoted(self) + " child-env TALVE_SMOKE", false, true);
    check(gone.completed && gone.exitCode == 1, "child no longer sees it");
}

void checkDirectoriesAndFiles(Platform& platform) {
    auto start = platform.currentDirectory();
    check(start.has_value(), "currentDirectory");
    if (!start) {
        return;
    }
    const std::string dir = *start + "\\talve_smoke_" + std::to_string(GetCurrentProcessId());

    check(platform.createDirectory(dir) == 0, "createDirectory");
    check(platform.createDirectory(dir) != 0, "createDirectory on an existing directory fails");
    check(platform.createDirectory(dir + "\\a\\b") != 0, "createDirectory makes one level only");
    check(platform.changeDirectory(dir) == 0, "changeDirectory");
    auto inside = platform.currentDirectory();
    check(inside && *inside == dir, "currentDirectory follows changeDirectory");
    check(platform.changeDirectory(start->c_str()) == 0, "changeDirectory back");
    check(platform.changeDirectory(dir + "\\missing") != 0, "changeDirectory into a missing directory fails");
    check(platform.enterPrivateDirectory(dir), "enterPrivateDirectory on our own directory");
    platform.changeDirectory(*start);
    check(!platform.enterPrivateDirectory(dir + "\\missing"), "enterPrivateDirectory on a missing one");

    auto free = platform.freeBytesForUser(dir);
    check(free && *free > 0, "freeBytesForUser");
    check(!platform.freeBytesForUser(dir + "\\missing\\deeper"), "freeBytesForUser on a missing path");

    const std::string data = dir + "\\data.bin";
    if (std::FILE* file = platform.createPrivateFile(data)) {
        std::fwrite("a\nb", 1, 3, file);
        auto size = platform.fileSize(file);
        check(size && *size == 3, "fileSize of a private file");
        check(platform.seek(file, 1) && std::fgetc(file) == '\n', "seek and read back in binary mode");
        check(platform.seek(file, 3ULL << 30) && _ftelli64(file) == (3LL << 30), "seek past 2 GiB");
        std::fclose(file);
    } else {
        check(false, "createPrivateFile");
    }
    check(!platform.enterPrivateDirectory(data), "enterPrivateDirectory refuses a file");
    check(platform.markExecutable(data), "markExecutable");

    const std::string log = dir + "\\launcher.log";
    if (std::FILE* file = platform.openLogFile(log)) {
        std::fputs("line\n", file);
        std::fclose(file);
    }
    check(readWhole(log) == "line\r\n", "log is written in text mode");
    check(platform.openLogFile(log) == nullptr, "openLogFile never opens a file that is already there");
    check(readWhole(log) == "line\r\n", "openLogFile leaves a file that is already there as it was");
    check(platform.openLogFile(dir) == nullptr, "openLogFile refuses a directory");

    if (std::FILE* file = platform.openForReading(log)) {
        DWORD flags = 0;
        const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
        check(GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT) == 0,
              "a file opened for reading is not handed to children");
        check(std::fgetc(file) == 'l', "openForReading reads");
        std::fclose(file);
    } else {
        check(false, "openForReading");
    }

    talve::FileRead text = platform.readRegularFile(log, 100);
    check(text.status == talve::FileReadStatus::ok && text.content == "line\r\n", "readRegularFile reads bytes");
    check(platform.readRegularFile(log, 5).status == talve::FileReadStatus::tooLarge, "readRegularFile bounds");
    check(platform.readRegularFile("NUL", 100).status == talve::FileReadStatus::notRegularFile,
          "readRegularFile refuses a device");
    check(platform.readRegularFile(dir + "\\absent", 100).status == talve::FileReadStatus::missing,
          "readRegularFile tells a missing file");

    const std::string script = dir + "\\exitscript.bat";
    if (std::FILE* file = std::fopen(script.c_str(), "w")) {
        std::fputs("@echo off\nexit /b 7\n", file);
        std::fclose(file);
    }
    ProcessOutcome scriptRun = platform.runProcess(platform.conventions().scriptRunner + quoted(script), false, true);
    check(scriptRun.completed && scriptRun.exitCode == 7, "exit script's code comes back");

    // A junction and a link planted in the tree lead out of it: they go,
    // and what they lead to stays. A read-only file goes too.
    const std::string outside = dir + "-outside";
    CreateDirectoryA(outside.c_str(), nullptr);
    const std::string kept = outside + "\\keep.txt";
    if (std::FILE* file = std::fopen(kept.c_str(), "w")) {
        std::fclose(file);
    }
    CreateDirectoryA((dir + "\\sub").c_str(), nullptr);
    const std::string readOnly = dir + "\\sub\\read-only.txt";
    if (std::FILE* file = std::fopen(readOnly.c_str(), "w")) {
        std::fclose(file);
    }
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    platform.runProcess("cmd.exe /c mklink /J " + quoted(dir + "\\sub\\junction") + " " + quoted(outside), false, true);
    CreateSymbolicLinkA((dir + "\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2);
    const bool planted = exists(dir + "\\sub\\junction") || exists(dir + "\\link");
    std::printf("     links planted: %s\n", planted ? "yes" : "no (neither mklink /J nor CreateSymbolicLink)");
    talve::TreeRemoval removal = platform.removeTree(dir);
    check(removal.removed && !exists(dir), "removeTree removes the tree");
    check(exists(kept), "removeTree follows no junction or link out of the tree");
    check(platform.removeTree(dir).removed, "removeTree takes a missing tree for removed");
    DeleteFileA(kept.c_str());
    RemoveDirectoryA(outside.c_str());
}

void checkErrorOutput(Platform& platform, const std::string& self) {
    std::string errors;
    ProcessOutcome small = platform.runProcessKeepingErrors(quoted(self) + " child-stderr 0", 100, errors);
    // The child's C runtime writes its standard error in text mode.
    check(small.completed && small.exitCode == 5 && errors == "why\r\n", "standard error kept, output not");
    ProcessOutcome flood = platform.runProcessKeepingErrors(quoted(self) + " child-stderr 100000", 100, errors);
    check(flood.completed && flood.exitCode == 5 && errors.size() == 100 && errors.compare(0, 5, "why\r\n") == 0,
          "a flood of error output is read to the end and its start kept");
    ProcessOutcome missing = platform.runProcessKeepingErrors("talve-no-such-program.exe x", 100, errors);
    check(!missing.completed && errors.empty(), "a missing program keeps no error output");
}

void checkThisProcess(Platform& platform, const std::string& self) {
    std::string path = platform.executablePath();
    std::printf("     executable %s (argv[0] %s)\n", path.c_str(), self.c_str());
    check(!path.empty() && platform.isAbsolutePath(path) && exists(path), "executablePath");

    talve::ShutdownRight right = platform.acquireShutdownRight();
    std::printf("     shutdown right: token %d, privilege %d; console alone %d\n", right.tokenOpened,
                right.privilegeFound, platform.consoleOwnedAlone());
    check(right.tokenOpened && right.privilegeFound, "acquireShutdownRight (no restart)");
}

// A name of the smoke test's own, so that it never meets a launcher's lock.
const char* const smokeLockName = "TALVEMeridonInstallerSmoke";

// Exit codes of "lock-probe".
enum LockProbe { lockTaken = 20, lockHeldElsewhere = 21, lockUnavailable = 22 };

int lockProbe(Platform& platform) {
    switch (platform.takeInstanceLock(smokeLockName)) {
    case talve::InstanceLockResult::Taken: platform.releaseInstanceLock(); return lockTaken;
    case talve::InstanceLockResult::HeldElsewhere: return lockHeldElsewhere;
    default: return lockUnavailable;
    }
}

// "hold FILE [MS]": keeps FILE open without sharing for a minute (or MS
// milliseconds), as an installer holds its files.
int holdFile(const char* path, DWORD milliseconds = 60000) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    Sleep(milliseconds);
    CloseHandle(file);
    return 0;
}

// Starts "hold FILE MS" as a helper that inherits this process's handles
// (its standard error among them) and waits until it holds the file.
bool startHelper(const std::string& self, const std::string& file, DWORD milliseconds) {
    std::string commandLine = quoted(self) + " hold " + quoted(file) + " " + std::to_string(milliseconds);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    for (int i = 0; i < 500 && !exists(file); ++i) {
        Sleep(10);
    }
    return exists(file);
}

// "hold-with-helper FILE HELPER": an installer that started a helper holding
// HELPER and holds FILE itself for a minute.
int holdWithHelper(const std::string& self, const char* file, const char* helperFile) {
    return startHelper(self, helperFile, 60000) ? holdFile(file) : 1;
}

// "helper-then-exit HELPER": leaves a helper that holds HELPER and the
// standard error for a few seconds, writes a line there and ends.
int helperThenExit(const std::string& self, const char* helperFile) {
    if (!startHelper(self, helperFile, 8000)) {
        return 1;
    }
    std::fprintf(stderr, "why\n");
    return 4;
}

// "breakaway": tries to start a program outside the job it was started in.
// 0: refused; 2: it got out; 3: it was in no job to begin with.
int tryBreakaway(const std::string& self) {
    BOOL inJob = FALSE;
    if (!IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) || !inJob) {
        return 3;
    }
    std::string commandLine = quoted(self) + " child 0";
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr,
                        &startup, &started)) {
        return 0;
    }
    WaitForSingleObject(started.hProcess, 10000);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    return 2;
}

// A file that a stopped process held can be deleted soon after the stop.
bool deletedWithin(const std::string& path, DWORD milliseconds) {
    for (DWORD waited = 0; waited <= milliseconds; waited += 20) {
        if (DeleteFileA(path.c_str())) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

// "filled-handles": started without standard handles, the platform fills
// them; the exit code is the kind of standard output, or 50 when a file
// opened afterwards took a standard descriptor number.
int filledHandles() {
    auto platform = talve::makeSystemPlatform();
    std::FILE* file = std::fopen("filled-handles.txt", "w");
    const int descriptor = file != nullptr ? _fileno(file) : -1;
    if (file != nullptr) {
        std::fclose(file);
    }
    DeleteFileA("filled-handles.txt");
    if (descriptor >= 0 && descriptor <= 2) {
        return 50;
    }
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    return errors == nullptr || errors == INVALID_HANDLE_VALUE ? none : stdoutKind();
}

void checkAbsentStandardHandles(const std::string& self) {
    std::string commandLine = quoted(self) + " filled-handles";
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started;
    DWORD exitCode = 0;
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        WaitForSingleObject(started.hProcess, 30000);
        GetExitCodeProcess(started.hProcess, &exitCode);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    std::printf("     without standard handles: exit code %lu\n", static_cast<unsigned long>(exitCode));
    check(exitCode == nullDevice, "absent standard handles become the null device before any file is opened");
}

// The job holds everything a child starts: a child cannot take a program
// out of it, so the stop reaches that program too.
// Wine may let a program leave a job whatever its limits say; Windows may not.
void checkJobHoldsWhatChildrenStart(Platform& platform, const std::string& self) {
    const talve::ProcessOutcome outcome = platform.runProcess(quoted(self) + " breakaway", false, true);
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    if (outcome.completed && outcome.exitCode == 3) {
        std::printf("     skipped: this system put the child in no job\n");
        return;
    }
    if (wine && outcome.completed && outcome.exitCode == 2) {
        std::printf("     skipped: Wine let a program out of a job that allows no breakaway\n");
        return;
    }
    check(outcome.completed && outcome.exitCode == 0, "a child cannot start a program outside its job");
}

void checkHelpers(Platform& platform, const std::string& self) {
    auto start = platform.currentDirectory();
    const std::string held = start.value_or(".") + "\\limit-held.txt";
    const std::string byHelper = start.value_or(".") + "\\limit-helper.txt";
    DWORD began = GetTickCount();
    ProcessOutcome stopped = platform.runProcessWithin(
        quoted(self) + " hold-with-helper " + quoted(held) + " " + quoted(byHelper), true, std::chrono::milliseconds(1500));
    DWORD took = GetTickCount() - began;
    std::printf("     run stopped at its 1500 ms limit after %lu ms\n", static_cast<unsigned long>(took));
    check(stopped.timedOut && !stopped.completed && took < 5000, "a run past its limit is stopped");
    check(deletedWithin(held, 2000) && deletedWithin(byHelper, 2000), "what it started is stopped with it");
    ProcessOutcome quick = platform.runProcessWithin(quoted(self) + " child 7", true, std::chrono::seconds(30));
    check(quick.completed && !quick.timedOut && quick.exitCode == 7, "a run within its limit ends as usual");

    const std::string lingering = start.value_or(".") + "\\pipe-helper.txt";
    std::string errors;
    began = GetTickCount();
    ProcessOutcome ended =
        platform.runProcessKeepingErrors(quoted(self) + " helper-then-exit " + quoted(lingering), 100, errors);
    took = GetTickCount() - began;
    std::printf("     error output kept while a helper holds the pipe: %lu ms\n", static_cast<unsigned long>(took));
    check(ended.completed && ended.exitCode == 4 && errors == "why\r\n" && took < 5000,
          "a helper holding the error pipe does not hold up the run");
    deletedWithin(lingering, 10000);
}

// "interrupted-run MARKER HELD": a run with the lock taken and an installer
// (a "hold" child) running, interrupted by a Ctrl-C that Wine cannot deliver,
// so the handler is called the way the system would call it. The process
// should end inside the handler; 99 means the main thread went on.
int interruptedRun(Platform& platform, const std::string& self, const std::string& marker, const std::string& held) {
    if (platform.takeInstanceLock(smokeLockName) != talve::InstanceLockResult::Taken) {
        return 98;
    }
    platform.installInterruptHandler([&platform, marker] {
        if (std::FILE* file = std::fopen(marker.c_str(), "w")) {
            std::fputs("cleaned up", file);
            std::fclose(file);
        }
        platform.releaseInstanceLock();
    });
    platform.confirmInstanceLock();
    std::thread([] {
        Sleep(1000);
        talve::win32::consoleControlHandler(CTRL_C_EVENT);
    }).detach();
    platform.runProcess(quoted(self) + " hold-with-helper " + quoted(held) + " " + quoted(held + ".helper"), false, true);
    platform.runProcess(quoted(self) + " child 0", false, true);
    return 99;
}

// Gives every account the right to write into a folder of its own; false
// where the system does not keep the grant (Wine keeps only modes).
bool grantEveryone(const std::string& folder, DWORD rights) {
    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    PSID sid = nullptr;
    if (!ConvertStringSidToSidA("S-1-1-0", &sid)) {
        LocalFree(descriptor);
        return false;
    }
    EXPLICIT_ACCESSA grant{};
    grant.grfAccessPermissions = rights;
    grant.grfAccessMode = GRANT_ACCESS;
    grant.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    grant.Trustee.ptstrName = static_cast<char*>(sid);
    PACL changed = nullptr;
    bool kept = SetEntriesInAclA(1, &grant, old, &changed) == ERROR_SUCCESS &&
                SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, changed, nullptr) == ERROR_SUCCESS;
    LocalFree(changed);
    LocalFree(descriptor);
    PACL now = nullptr;
    descriptor = nullptr;
    if (kept && GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &now, nullptr, &descriptor) == ERROR_SUCCESS) {
        kept = false;
        for (DWORD i = 0; now != nullptr && i < now->AceCount && !kept; ++i) {
            void* entry = nullptr;
            if (!GetAce(now, i, &entry) || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
            const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            kept = EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid) &&
                   (allowed->Mask & rights) == rights;
        }
        LocalFree(descriptor);
    }
    LocalFree(sid);
    return kept;
}

// The rule an elevated run judges found runtimes by, on what this system
// keeps; the decisions built on it are tested through the platform seam.
void checkRights(Platform& platform) {
    std::printf("     elevated token %d\n", talve::win32::runsElevated());
    char systemDirectory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(systemDirectory, MAX_PATH);
    const std::string system(systemDirectory, length);
    const std::string systemProblem = platform.writableByOthers(system, true, false);
    std::printf("     %s: %s\n", system.c_str(),
                systemProblem.empty() ? "only the administrators may change it" : systemProblem.c_str());

    const std::string here = platform.currentDirectory().value_or("");
    const std::string missing = here + "\\no-such-entry";
    check(platform.writableByOthers(missing, false, false) == "\"" + missing + "\" cannot be examined (error 2)",
          "what cannot be examined is open to others, and says why");
    check(platform.writableByOthers("", false, false) == "\"\" cannot be placed", "an empty path is placed nowhere");
    const std::string folder = here + "\\rights-check";
    CreateDirectoryA(folder.c_str(), nullptr);
    check(platform.writableByOthers("rights-check", true, false) == platform.writableByOthers(folder, true, false),
          "a relative path is judged as the folder it names from here");
    if (!grantEveryone(folder, FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES)) {
        std::printf("     skipped: this system does not keep access lists\n");
    } else {
        const std::string above = platform.writableByOthers(here, true, true);
        check(platform.writableByOthers(folder, false, false).empty(),
              "others may set attributes and extended attributes");
        grantEveryone(folder, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY);
        check(platform.writableByOthers(folder, false, true).empty(), "others may add entries where that is allowed");
        check(platform.writableByOthers(folder, false, false) == "\"" + folder + "\" may be changed by Everyone (S-1-1-0)",
              "nowhere else");
        check(platform.writableByOthers(folder + "\\inner", true, false) ==
                  (above.empty() ? "\"" + folder + "\\inner\" cannot be examined (error 2)" : above),
              "the folders above count, from the root down");
    }
    RemoveDirectoryA(folder.c_str());

    // A whole tree: an entry deep inside that others may add to opens it.
    const std::string tree = here + "\\tree-check";
    const std::string deep = tree + "\\bin\\server";
    CreateDirectoryA(tree.c_str(), nullptr);
    CreateDirectoryA((tree + "\\bin").c_str(), nullptr);
    CreateDirectoryA(deep.c_str(), nullptr);
    const std::string treeAbove = platform.writableByOthers(tree, true, false);
    check(platform.treeWritableByOthers(tree) == treeAbove, "a tree whose entries are sound is judged as its folder");
    if (treeAbove.empty() && grantEveryone(deep, FILE_ADD_FILE)) {
        check(platform.treeWritableByOthers(tree) == "\"" + deep + "\" may be changed by Everyone (S-1-1-0)",
              "an entry deep in a tree that others may add to opens the tree");
    }
    RemoveDirectoryA(deep.c_str());
    RemoveDirectoryA((tree + "\\bin").c_str());
    RemoveDirectoryA(tree.c_str());
}

// A name that some other user took first with an object of another kind.
void checkSquattedInstanceLock(Platform& platform) {
    const std::string name = std::string(smokeLockName) + "-squatted-" + std::to_string(GetCurrentProcessId());
    HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, ("Global\\" + name).c_str());
    check(squatter != nullptr, "an event takes the lock's name");
    check(platform.takeInstanceLock(name) == talve::InstanceLockResult::Unavailable, "a squatted name refuses the lock");
    check(platform.instanceLockProblem() == "The mutex \"Global\\" + name +
                                                "\" cannot be used: an object of another kind holds the name. No "
                                                "installer can take the lock while it is there.",
          "the refusal says what holds the name");
    if (squatter != nullptr) CloseHandle(squatter);
}

void checkInstanceLockAndInterruption(Platform& platform, const std::string& self) {
    check(talve::win32::consoleControlHandler(CTRL_CLOSE_EVENT) == FALSE, "closing the window is left to the system");
    check(platform.takeInstanceLock(smokeLockName) == talve::InstanceLockResult::Taken, "takeInstanceLock");
    check(platform.confirmInstanceLock(), "confirmInstanceLock");
    ProcessOutcome second = platform.runProcess(quoted(self) + " lock-probe", false, true);
    check(second.completed && second.exitCode == lockHeldElsewhere, "a second process is refused the lock");
    platform.releaseInstanceLock();
    ProcessOutcome after = platform.runProcess(quoted(self) + " lock-probe", false, true);
    check(after.completed && after.exitCode == lockTaken, "the lock is free once released");

    auto start = platform.currentDirectory();
    const std::string marker = start.value_or(".") + "\\interrupt-marker.txt";
    const std::string held = start.value_or(".") + "\\held-by-installer.txt";
    DWORD began = GetTickCount();
    ProcessOutcome run =
        platform.runProcess(quoted(self) + " interrupted-run " + quoted(marker) + " " + quoted(held), false, true);
    std::printf("     interrupted run: exit code 0x%lX after %lu ms\n", static_cast<unsigned long>(run.exitCode),
                static_cast<unsigned long>(GetTickCount() - began));
    check(run.completed && static_cast<DWORD>(run.exitCode) == STATUS_CONTROL_C_EXIT,
          "Ctrl-C ends the run with STATUS_CONTROL_C_EXIT inside the handler");
    check(readWhole(marker) == "cleaned up", "Ctrl-C runs the clean-up");
    check(DeleteFileA(held.c_str()) != FALSE, "the installer child does not outlive the handler");
    check(deletedWithin(held + ".helper", 2000), "nor does the helper it started");
    ProcessOutcome freed = platform.runProcess(quoted(self) + " lock-probe", false, true);
    check(freed.completed && freed.exitCode == lockTaken, "Ctrl-C frees the lock");
    DeleteFileA(marker.c_str());
}

// Exit codes of "dir-lock-probe DIR".
enum DirectoryLockProbe { directoryTaken = 30, directoryInUse = 31, directoryRefused = 32 };

int directoryLockProbe(Platform& platform, const std::string& dir) {
    switch (platform.lockDirectory(dir).status) {
    case talve::DirectoryLockStatus::taken: return directoryTaken;
    case talve::DirectoryLockStatus::inUse: return directoryInUse;
    default: return directoryRefused;
    }
}

// What a run and its installer do in their locked temporary directory must
// all still work, from this process and from children; only another lock,
// deleting and renaming are kept out.
void checkDirectoryLock(Platform& platform, const std::string& self) {
    auto start = platform.currentDirectory();
    if (!start) return;
    const std::string dir = *start + "\\talve_locked_" + std::to_string(GetCurrentProcessId());
    check(platform.createDirectory(dir) == 0, "createDirectory for the lock");
    talve::DirectoryLock held = platform.lockDirectory(dir);
    check(held.status == talve::DirectoryLockStatus::taken && held.lock != nullptr, "lockDirectory");
    check(platform.lockDirectory(dir).status == talve::DirectoryLockStatus::inUse,
          "a second lock in the same process is refused");
    ProcessOutcome other = platform.runProcess(quoted(self) + " dir-lock-probe " + quoted(dir), false, true);
    check(other.completed && other.exitCode == directoryInUse, "another process is refused the lock");
    check(platform.enterPrivateDirectory(dir), "the locked directory can be entered");
    const std::string file = dir + "\\install.jar";
    if (std::FILE* out = std::fopen(file.c_str(), "wb")) {
        std::fputs("jar", out);
        std::fclose(out);
    }
    check(readWhole(file) == "jar", "files are made and read in it");
    check(platform.createDirectory(dir + "\\korvu_lib") == 0, "folders are made in it");
    auto listed = platform.listDirectory(dir);
    std::size_t entries = 0;
    for (const std::string& name : listed.value_or(std::vector<std::string>{}))
        if (name != "." && name != "..") ++entries;
    check(listed && entries == 2, "it lists only what was put there");
    ProcessOutcome child = platform.runProcess(quoted(self) + " child 0", false, true);
    check(child.completed && child.exitCode == 0, "a child starts with the locked directory as its own");
    platform.changeDirectory(*start);
    const std::string moved = dir + "_moved";
    check(MoveFileA(dir.c_str(), moved.c_str()) == FALSE, "the locked directory cannot be renamed");
    RemoveDirectoryA((dir + "\\korvu_lib").c_str());
    DeleteFileA(file.c_str());
    check(RemoveDirectoryA(dir.c_str()) == FALSE && exists(dir), "the locked directory cannot be removed");
    held.lock.reset();
    ProcessOutcome freed = platform.runProcess(quoted(self) + " dir-lock-probe " + quoted(dir), false, true);
    check(freed.completed && freed.exitCode == directoryTaken, "the lock is free once released");
    check(RemoveDirectoryA(dir.c_str()) != FALSE, "the directory is removed once unlocked");
    check(platform.lockDirectory(dir).status == talve::DirectoryLockStatus::refused, "a missing directory is refused");
}

} // namespace

// A 24-bit BMP of width x height pixels, all one colour.
std::string bmpPicture(int width, int height) {
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    const int size = 54 + rowBytes * height;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    auto put32 = [&](int at, int value) {
        for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(at + i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    bytes[26] = 1;  // planes
    bytes[28] = 24; // bits per pixel
    for (std::size_t i = 54; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0x80);
    return bytes;
}

// The splash window's own rules, which only the real window manager can
// show: its styles and size, a close request from the user ignored, WM_USER
// destroying it and ending its event loop.
void checkSplashWindow(Platform& platform) {
    const std::string picture = "smoke-splash.bmp", notAPicture = "smoke-splash.txt";
    if (std::FILE* out = std::fopen(picture.c_str(), "wb")) {
        const std::string bytes = bmpPicture(30, 20);
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    if (std::FILE* out = std::fopen(notAPicture.c_str(), "wb")) {
        std::fputs("not a picture", out);
        std::fclose(out);
    }
    auto unreadable = platform.createSplashWindow();
    check(!unreadable->loadImage(notAPicture), "splash: a text file is no picture");
    unreadable->close();

    auto window = platform.createSplashWindow();
    std::string reason;
    check(window->loadImage(picture), "splash: the BMP picture loads");
    check(window->registerClass(), "splash: window class registered");
    check(window->createWindow("TALVE Installer", [] { return std::string("Unpacking data..."); }, reason),
          "splash: window created");
    window->present();
    HWND handle = FindWindowA("ClassName", "TALVE Installer");
    check(handle != nullptr && IsWindowVisible(handle), "splash: window visible after the fade-in");
    RECT box{};
    GetWindowRect(handle, &box);
    check(box.right - box.left == 30 && box.bottom - box.top == 60, "splash: picture width by height + 40");
    const LONG style = GetWindowLongA(handle, GWL_STYLE), extended = GetWindowLongA(handle, GWL_EXSTYLE);
    check((style & WS_POPUP) && (style & WS_DLGFRAME) && (extended & WS_EX_TOOLWINDOW),
          "splash: pop-up with dialog frame, tool window (no task-bar button)");

    PostMessageA(handle, WM_CLOSE, 0, 0);
    check(window->handleNextEvent() && IsWindow(handle), "splash: WM_CLOSE (Alt+F4) leaves the window");
    PostMessageA(handle, WM_USER, 0, 0);
    bool loopEnded = false;
    for (int i = 0; i < 20 && !loopEnded; ++i) loopEnded = !window->handleNextEvent();
    check(loopEnded && !IsWindow(handle), "splash: WM_USER destroys the window and ends the loop");
    window->close();
    DeleteFileA(picture.c_str());
    DeleteFileA(notAPicture.c_str());
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "child") == 0) {
        return std::atoi(argv[2]);
    }
    if (argc == 2 && std::strcmp(argv[1], "probe-stdout") == 0) {
        return stdoutKind();
    }
    if (argc == 3 && std::strcmp(argv[1], "child-stderr") == 0) {
        // Far more than a pipe holds, behind a line that tells where it went.
        std::printf("to-output\n");
        std::fprintf(stderr, "why\n");
        for (int i = 0; i < std::atoi(argv[2]); ++i) {
            std::fputs("0123456789abcdef", stderr);
        }
        return 5;
    }
    if (argc == 2 && std::strcmp(argv[1], "filled-handles") == 0) {
        return filledHandles();
    }
    if (argc == 3 && std::strcmp(argv[1], "child-env") == 0) {
        return std::getenv(argv[2]) != nullptr ? 0 : 1;
    }

    auto platform = talve::makeSystemPlatform();
    // Only where a window can be shown: under Wine, with a display.
    if (argc == 2 && std::strcmp(argv[1], "splash-window") == 0) {
        checkSplashWindow(*platform);
        std::printf("%s: %d failure(s)\n", failures == 0 ? "PASSED" : "FAILED", failures);
        return failures == 0 ? 0 : 1;
    }
    const std::string self = platform->executablePath();
    if (argc == 2 && std::strcmp(argv[1], "lock-probe") == 0) {
        return lockProbe(*platform);
    }
    if (argc == 3 && std::strcmp(argv[1], "dir-lock-probe") == 0) {
        return directoryLockProbe(*platform, argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        return holdFile(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        return holdFile(argv[2], static_cast<DWORD>(std::atol(argv[3])));
    }
    if (argc == 4 && std::strcmp(argv[1], "hold-with-helper") == 0) {
        return holdWithHelper(self, argv[2], argv[3]);
    }
    if (argc == 2 && std::strcmp(argv[1], "breakaway") == 0) {
        return tryBreakaway(self);
    }
    if (argc == 3 && std::strcmp(argv[1], "helper-then-exit") == 0) {
        return helperThenExit(self, argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "interrupted-run") == 0) {
        return interruptedRun(*platform, self, argv[2], argv[3]);
    }
    checkPathRules(*platform);
    checkProcesses(*platform, self);
    checkEnvironment(*platform, self);
    checkErrorOutput(*platform, self);
    checkHelpers(*platform, self);
    checkJobHoldsWhatChildrenStart(*platform, self);
    checkAbsentStandardHandles(self);
    checkDirectoriesAndFiles(*platform);
    checkThisProcess(*platform, argv[0]);
    checkSquattedInstanceLock(*platform);
    checkRights(*platform);
    checkInstanceLockAndInterruption(*platform, self);
    checkDirectoryLock(*platform, self);

    std::printf("%s: %d failure(s)\n", failures == 0 ? "PASSED" : "FAILED", failures);
    return failures == 0 ? 0 : 1;
}
