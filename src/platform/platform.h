#pragma once

// The one door to the operating system. Everything outside src/platform is
// operating-system independent and reaches the system only through this
// interface; posix/ and win32/ implement it, and the build picks one.
// Tests substitute a fake where a real process or disk is not wanted.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talve {

class SplashWindow;

// What readKeystroke gives for a key that stands for no character.
constexpr int keyWithoutCharacter = 0x100;

// Texts and characters that differ between systems while the logic stays the same.
struct PlatformConventions {
    std::string pathSeparator;          // placed between a directory and a name
    char searchPathSeparator;           // between entries of PATH
    std::string scriptRunner;           // prefix of the command that runs the exit script
    // Variables naming a temporary folder, tried in order when -tempdir is not
    // given, then the system's own folder (empty where there is none).
    std::vector<std::string> temporaryBaseVariables;
    std::string fallbackTemporaryBase;
    // Text files end their lines in CR LF, which a text reader takes as one
    // line feed (the C runtime's text mode on Windows).
    bool textLinesEndInCrLf = false;
    // A current directory that begins with this is on a network share; the
    // variable names the user's home, where the run goes instead.
    std::string networkPathPrefix;
    std::string homeVariable;
    // Appended to a program's name to make its file name (".exe" on Windows).
    std::string executableSuffix;
    // Searched for product records where "CommonProgramFiles" is not set
    // (empty: that step of the search finds nothing).
    std::string commonRecordDirectoryFallback;
    // A directory whose lock is held cannot be removed (Windows), so the
    // lock goes before the removal; elsewhere it is kept through it.
    bool lockedDirectoryResistsRemoval = false;
};

enum class CopyStatus { copied, readFailed, writeFailed };

// What removeTree left behind; nothing when removed.
struct TreeRemoval {
    bool removed = false;
    std::uint64_t entriesLeft = 0; // the tree's own directory included
    std::string firstLeft;         // one entry left, and why, for a message
};

// What reading one small file of outside input gave.
enum class FileReadStatus { ok, missing, notRegularFile, tooLarge, failed };
struct FileRead {
    FileReadStatus status = FileReadStatus::failed;
    std::string content; // the bytes as they are, when ok
};

// The environment as a started program receives it, in bytes as the system
// counts them, against what the system lets a program be started with.
struct StartRoom {
    std::uint64_t environmentBytes = 0;
    std::uint64_t limit = 0; // arguments and environment together; 0: no limit
};

// Result of trying to take the machine-wide single-instance lock.
enum class InstanceLockResult { Taken, HeldElsewhere, Unavailable };

struct ProcessOutcome {
    bool completed = false; // false: the program could not be started or waited for
    int exitCode = 1;       // meaningful only when completed
    bool timedOut = false;  // it was stopped, with what it started, at its time limit
};

struct ShutdownRight {
    bool tokenOpened = false;    // the process could open its own security token
    bool privilegeFound = false; // the shutdown privilege exists and can be enabled
};

// An exclusive lock, held until this object is destroyed or the process
// ends, however it ends.
class FileLock {
public:
    virtual ~FileLock() = default;
};

enum class DirectoryLockStatus {
    taken,
    inUse,       // another holder has it
    refused,     // missing, a link, not a directory, or not this user's alone
    unsupported, // the file system cannot lock a directory (some network ones)
};
struct DirectoryLock {
    DirectoryLockStatus status = DirectoryLockStatus::refused;
    std::unique_ptr<FileLock> lock; // set when taken
};

class Platform {
public:
    virtual ~Platform() = default;

    virtual const PlatformConventions& conventions() const = 0;

    // True when the path needs no current directory in front of it.
    virtual bool isAbsolutePath(const std::string& path) const = 0;

    // --- directories -------------------------------------------------------
    virtual std::optional<std::string> currentDirectory() = 0;
    // Both return 0 on success like the C runtime calls they stand for.
    virtual int changeDirectory(const std::string& dir) = 0;
    // Creates one level, for the owner only where the system has such modes.
    virtual int createDirectory(const std::string& dir) = 0;
    // Changes into dir only when it is a real directory (not a link) that
    // belongs to this user; the run's private directory is entered this way
    // so that nobody else can slip a directory of theirs under the launcher.
    virtual bool enterPrivateDirectory(const std::string& dir) = 0;
    // The names of the entries of dir in the order the system gives them
    // ("." and ".." may be among them); none when dir cannot be listed.
    virtual std::optional<std::vector<std::string>> listDirectory(const std::string& dir) = 0;
    // Removes dir with everything in it, in this process, so that the
    // clean-up needs no program to start. A link or junction inside is
    // removed itself and never followed; a missing dir counts as removed.
    // What cannot be removed is passed over and counted.
    virtual TreeRemoval removeTree(const std::string& dir) = 0;
    // Free bytes on the volume holding dir that this user may use.
    virtual std::optional<std::uint64_t> freeBytesForUser(const std::string& dir) = 0;

    // --- environment -------------------------------------------------------
    virtual std::optional<std::string> getEnvironment(const std::string& name) = 0;
    // NAME=value; an empty value removes the variable. 0 on success.
    virtual int putEnvironment(const std::string& assignment) = 0;
    // putEnvironment for many texts at once, in time linear in their number
    // and in the environment's size: one call per text would search the
    // whole environment each time. 0 when every text was taken.
    virtual int putEnvironmentAll(const std::vector<std::string>& assignments) = 0;
    virtual StartRoom startRoom() = 0;

    // --- this process ------------------------------------------------------
    // Full path of the running executable, empty when the system cannot tell.
    virtual std::string executablePath() = 0;

    // --- child processes ---------------------------------------------------
    // Runs a command line (program first, arguments after it, quoted by the
    // Windows C runtime rules; never through a shell) with its window hidden,
    // in this process's environment and current directory, and waits for it
    // without a time limit. detach: no console / controlling terminal for the
    // child. discardOutput: its standard output and error go to the null device.
    // The child and whatever it starts form a group of their own (a process
    // group, a job object on Windows), which an interruption reaches as a whole.
    virtual ProcessOutcome runProcess(const std::string& commandLine, bool detach, bool discardOutput) = 0;
    // Like runProcess, not detached, with standard output sent to the null
    // device, but standard error kept: the first `limit` bytes land in
    // errorOutput, the rest is read and dropped, so that a program that
    // fails quietly can still say why in the launcher's log.
    virtual ProcessOutcome runProcessKeepingErrors(const std::string& commandLine, std::size_t limit,
                                                   std::string& errorOutput) = 0;
    // Like runProcess, not detached, but a program still running after
    // timeLimit is stopped together with the programs it started.
    virtual ProcessOutcome runProcessWithin(const std::string& commandLine, bool discardOutput,
                                            std::chrono::milliseconds timeLimit) = 0;

    // --- console -----------------------------------------------------------
    // True when the console belongs to this process alone (started from the
    // desktop rather than from a shell that shares it).
    virtual bool consoleOwnedAlone() = 0;
    virtual void showConsoleWindow(bool visible) = 0;

    // --- files -------------------------------------------------------------
    // Creates or truncates a file for reading and writing in binary mode,
    // readable and writable by the owner only where the system has such modes.
    virtual std::FILE* createPrivateFile(const std::string& path) = 0;
    // Creates a new file for appending text, owner-only, and never opens
    // anything already at that name, a link, a FIFO or a file (the log lies
    // in a shared temporary folder under a name others can guess); null then.
    virtual std::FILE* openLogFile(const std::string& path) = 0;
    // Opens a file for reading in binary mode; the descriptor or handle is
    // never handed to a child (the installer and what it leaves running).
    virtual std::FILE* openForReading(const std::string& path) = 0;
    virtual bool markExecutable(const std::string& path) = 0;
    // Offsets in an installer file can go beyond 2 GiB, past what fseek takes.
    virtual bool seek(std::FILE* file, std::uint64_t offset) = 0;
    virtual std::optional<std::uint64_t> fileSize(std::FILE* file) = 0;
    // Appends length bytes of source, from offset on, to destination, at the
    // speed of the system's own file copy. readFailed: the source ended or
    // could not be read before length bytes; writeFailed: the destination
    // took fewer. The source's stream position is left undefined.
    virtual CopyStatus copyFileRange(std::FILE* source, std::uint64_t offset, std::FILE* destination,
                                     std::uint64_t length) = 0;
    // Reads a whole file of at most limit bytes, and only a regular file: it
    // is opened without blocking, so that a FIFO or a device put where the
    // launcher expects a text file can neither hang it nor feed it for ever.
    virtual FileRead readRegularFile(const std::string& path, std::size_t limit) = 0;

    // --- locks -------------------------------------------------------------
    // Locks the directory itself, so that nothing appears in it: only a real
    // directory (never through a link) that belongs to this user alone, and
    // exclusively, a second taker failing even in the same process. While it
    // is held, others may still list and read the directory, and on Windows
    // nobody can delete or rename it. Child processes do not inherit it.
    virtual DirectoryLock lockDirectory(const std::string& dir) = 0;

    // --- rights ------------------------------------------------------------
    // Root, or an elevated administrator token on Windows.
    virtual bool runsElevated() = 0;
    // Why an account other than the administrators (root; SYSTEM,
    // Administrators, TrustedInstaller) and this user could change what is
    // at path; empty when none can. With foldersAbove, every folder above it
    // counts too, each of which may let others add entries of their own (a
    // sticky folder such as /tmp) but not replace or remove ours. A link on
    // the way is followed and its target judged the same way; on Windows a
    // junction or a link counts as open to others. mayAddEntries:
    // a folder at path itself may let others add entries too. What cannot
    // be examined counts as open to others.
    virtual std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries) = 0;
    // The same question for a whole tree, as an elevated run asks it of a
    // runtime it would load code from: root with every folder above it, then
    // every entry inside, where nobody else may add entries either. A link
    // inside is judged as writableByOthers judges a link, and a folder it
    // leads to outside the tree is walked as part of the tree.
    virtual std::string treeWritableByOthers(const std::string& root) = 0;

    // --- reboot ------------------------------------------------------------
    virtual ShutdownRight acquireShutdownRight() = 0;
    // Restarts the machine at once, closing applications without asking.
    virtual bool restartMachine() = 0;

    // --- single-instance lock, interruption and exit ---------------------------
    // One lock per machine, seen by every user: on Windows the mutex
    // "Global\<name>", elsewhere an exclusive lock on "/tmp/<name>.lock".
    // Never waits. The lock is never handed to a child, so it goes when this
    // process goes, even while the installer it started still runs.
    virtual InstanceLockResult takeInstanceLock(const std::string& name) = 0;
    // After an Unavailable answer: the lock's path and what was found there
    // (a link, a directory, a file of another user's ...), as one sentence.
    virtual std::string instanceLockProblem() { return std::string(); }
    // Makes sure this process owns the lock it took; false when it cannot tell.
    virtual bool confirmInstanceLock() = 0;
    virtual void releaseInstanceLock() = 0;
    // From now on an interruption by the user (Ctrl-C, Ctrl-Break; on POSIX
    // also SIGQUIT, SIGTERM and SIGHUP) runs onInterrupt once on a thread of
    // its own, after the running child has had the interruption and has ended
    // (runInterruption), and then ends the process as interrupted. Other
    // threads stop for good at their next child process or exit meanwhile.
    virtual bool installInterruptHandler(std::function<void()> onInterrupt) = 0;
    // Runs handler when the process exits normally; an interruption that is
    // already under way finishes instead, and later ones are ignored.
    virtual bool runAtExit(std::function<void()> handler) = 0;
    // --- masked key entry and random bytes -----------------------------------
    // Between beginKeyEntry and endKeyEntry, readKeystroke gives the keys
    // typed one by one, without echo; on a terminal also without line editing
    // or signals, so that Ctrl-C arrives as the byte 3. Without a terminal,
    // standard input is read as it comes. -1: the input has ended;
    // keyWithoutCharacter: a key that types nothing (an arrow or function
    // key where the console reports it as such, not as an escape sequence).
    virtual void beginKeyEntry() = 0;
    virtual int readKeystroke() = 0;
    // Puts the terminal back as beginKeyEntry found it; harmless when called twice.
    virtual void endKeyEntry() = 0;
    // From the system's random source; false when it gave nothing.
    virtual bool randomBytes(std::uint8_t* buffer, std::size_t size) = 0;
    // --- splash window -----------------------------------------------------
    // A window for the splash thread (platform/splash_window.h), made on the
    // main thread (it may read the environment, which only that thread may
    // change) and then handed to the splash thread. Always an object: a
    // system without a usable display fails its steps instead.
    virtual std::unique_ptr<SplashWindow> createSplashWindow() = 0;
};

// Puts back the terminal settings that a key entry changed, when a run is
// interrupted in the middle of it. Only async-signal-safe calls: a signal
// handler or the signal thread may call it at any time.
void restoreTerminalAfterInterrupt();

// The implementation for the system this build targets.
std::unique_ptr<Platform> makeSystemPlatform();

} // namespace talve
