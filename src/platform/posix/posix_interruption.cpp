#include "platform/posix/posix_interruption.h"

#include "platform/platform.h"
#include "platform/posix/descendants.h"
#include "platform/posix/posix_processes.h"
#include "platform/system_threads.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talve {
namespace posix {

namespace {

const int interruptionSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

int lockDescriptor = -1;
std::string lockProblem;

// What is at path, for a message: no link is followed.
std::string describeEntry(const std::string& path, int openError) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return std::string("it could not be made (") + std::strerror(openError) + ")";
    if (S_ISLNK(info.st_mode)) return "it is a symbolic link";
    if (S_ISDIR(info.st_mode)) return "it is a directory";
    if (S_ISFIFO(info.st_mode)) return "it is a FIFO";
    if (S_ISSOCK(info.st_mode)) return "it is a socket";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "it is a device";
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return "it is a file of user " + std::to_string(info.st_uid) + " with mode " + mode +
           " that this user may not open (" + std::strerror(openError) + ")";
}

void noteProblem(const std::string& path, const std::string& what) {
    lockProblem = "The lock file \"" + path + "\" cannot be used: " + what +
                  ". No installer can take the lock while it is there.";
}

// Opens the lock file without following a link and without blocking on
// something planted under its name (a FIFO); only a regular file is taken.
int openLockFile(const std::string& path) {
    const int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = open(path.c_str(), O_RDWR | flags);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0666);
        // Every user's launcher must be able to open it: the umask does not apply.
        if (fd >= 0) fchmod(fd, 0666);
        else if (errno == EEXIST) fd = open(path.c_str(), O_RDWR | flags);
    }
    // A file another user made before modes were fixed can still be locked read-only.
    if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | flags);
    if (fd < 0) {
        noteProblem(path, describeEntry(path, errno));
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        noteProblem(path, describeEntry(path, EINVAL));
        return -1;
    }
    return fd;
}

// Never destroyed: the signal thread and the exit handler may use them
// while static objects are being torn down.
std::function<void()>* interruptHandler = nullptr;
std::function<void()>* exitHandler = nullptr;

[[noreturn]] void endBySignal(int signalNumber) {
    std::fflush(nullptr);
    std::signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}

void signalLoop(sigset_t signals) {
    for (;;) {
        int signalNumber = 0;
        if (sigwait(&signals, &signalNumber) != 0) continue;
        if (!processGate().begin()) continue;
        // The signal never reaches the key prompt's own handlers while this
        // thread takes it, so the terminal is given back here.
        restoreTerminalAfterInterrupt();
        InterruptionSteps steps;
        // A child is a process group; an interruption from the terminal has
        // reached the group already.
        const bool fromTerminal = takeSignalFromTerminal(signalNumber);
        steps.passOn = [signalNumber, fromTerminal](InterruptionGate::ChildId group) {
            if (!fromTerminal) kill(-static_cast<pid_t>(group), signalNumber);
        };
        // What left the group (a helper in a session of its own) is still
        // the launcher's descendant, and would hold the directory about to go.
        steps.stop = [](InterruptionGate::ChildId group) {
            kill(-static_cast<pid_t>(group), SIGKILL);
            stopAllDescendants();
        };
        steps.cleanUp = *interruptHandler;
        runInterruption(processGate(), steps);
        reclaimTerminal();
        // A calling shell sees the interruption itself, not an exit code.
        endBySignal(signalNumber);
    }
}

void callExitHandler() {
    processGate().close();
    if (exitHandler != nullptr) (*exitHandler)();
}

} // namespace

InterruptionGate& processGate() {
    static InterruptionGate* gate = new InterruptionGate;
    return *gate;
}

InstanceLockResult takeLockFile(const std::string& name) { return takeLockFileAt("/tmp/" + name + ".lock"); }

InstanceLockResult takeLockFileAt(const std::string& path) {
    lockProblem.clear();
    int fd = openLockFile(path);
    if (fd < 0) return InstanceLockResult::Unavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return InstanceLockResult::HeldElsewhere;
        noteProblem(path, std::string("it could not be locked (") + std::strerror(error) + ")");
        return InstanceLockResult::Unavailable;
    }
    lockDescriptor = fd;
    return InstanceLockResult::Taken;
}

const std::string& lockFileProblem() { return lockProblem; }

// The file stays: removing it would let two launchers lock two different files.
void releaseLockFile() {
    if (lockDescriptor < 0) return;
    flock(lockDescriptor, LOCK_UN);
    close(lockDescriptor);
    lockDescriptor = -1;
}

bool startSignalThread(std::function<void()> onInterrupt) {
    if (interruptHandler != nullptr) return false;
    sigset_t signals;
    sigemptyset(&signals);
    for (int signalNumber : interruptionSignals) {
        struct sigaction current;
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&signals, signalNumber);
    }
    // Blocked here, in the main thread, so that every thread started later
    // (the splash screen's) has them blocked too and only sigwait sees them.
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return false;
    // Descendants whose parent ends come to the launcher, so that the
    // interruption can still find them; without it they are found as long
    // as their parents live.
    adoptOrphanedDescendants();
    interruptHandler = new std::function<void()>(std::move(onInterrupt));
    if (!startDetachedThread([signals] { signalLoop(signals); })) {
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return false;
    }
    return true;
}

bool runAtExit(std::function<void()> handler) {
    if (exitHandler != nullptr) return false;
    exitHandler = new std::function<void()>(std::move(handler));
    return std::atexit(callExitHandler) == 0;
}

} // namespace posix
} // namespace talve
