#include "platform/posix/posix_processes.h"

#include "platform/posix/descendants.h"
#include "platform/posix/posix_interruption.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

// Why each child gets a process group of its own, and what that means on a
// terminal. Installers start helpers; an interruption must reach them, and
// after the grace time they must be stopped with the installer, before the
// directory they work in is removed: the group is what the launcher signals.
//
// A child in a group of its own is in the background of the terminal, where
// reading it (an installer that prompts on the console) would stop it. So
// while the launcher is in the terminal's foreground, the child's group is
// given the terminal for as long as the child runs, and the launcher takes it
// back afterwards. Ctrl-C, Ctrl-\ and Ctrl-Z then reach that group alone, not
// the launcher; a stand-in of the launcher in the group (a forked copy that
// only waits, the "sentinel") ends or stops with them, and the launcher,
// which watches it, passes the event on to itself: an interruption runs the
// clean-up as always, a stop stops the launcher too, so that the calling
// shell sees the job stop, and when the shell lets it go on the launcher
// gives the terminal back to the group and lets the group go on as well. A
// child that stops because it touched the terminal from the background (the
// launcher was started in the background) is answered the same way. Without
// a controlling terminal none of this is needed: the launcher gets every
// interruption itself.

namespace talve {
namespace posix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int noErrorPipe = -1;
constexpr int noTerminal = -1;
const int interruptionSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

std::atomic<int> signalFromTerminal{0};
// The process group that has been given the terminal, 0 for none.
std::atomic<pid_t> terminalHolder{0};

int controllingTerminal() {
    static const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return terminal;
}

bool inForeground(int terminal) { return terminal != noTerminal && tcgetpgrp(terminal) == getpgrp(); }

// From the background, tcsetpgrp stops the caller with SIGTTOU unless the
// signal is blocked.
void giveTerminal(int terminal, pid_t group) {
    sigset_t ttou;
    sigset_t previous;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &previous);
    if (tcsetpgrp(terminal, group) == 0) terminalHolder = group == getpgrp() ? 0 : group;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Also when the child has handed the terminal on to a group of its own.
void takeTerminalBackFrom(int terminal, pid_t group) {
    if (terminal != noTerminal && group != 0 && terminalHolder == group) giveTerminal(terminal, getpgrp());
    if (terminalHolder == group) terminalHolder = 0;
}

struct Child {
    pid_t pid = 0;      // the program started
    pid_t group = 0;    // its process group: what the gate knows and signals
    pid_t sentinel = 0; // the launcher's stand-in in that group, 0 for none
    int terminal = noTerminal;
    bool interrupted = false; // the terminal interrupted the group
};

// The forked copy runs no code of the launcher's: only calls that are safe
// in a child of a process with other threads, until it is ended. It holds
// none of the launcher's files (a lock it held would outlive the launcher),
// and ends with the launcher, however that ends.
pid_t startSentinel(pid_t group) {
    const pid_t launcher = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, group);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != launcher) _exit(0);
        if (close_range(0, ~0u, 0) != 0)
            for (int fd = 0; fd < 4096; ++fd) close(fd);
        // Signals the launcher was started with ignored stay ignored, as they
        // would be for the installer; the others have their default effect.
        struct sigaction byDefault;
        std::memset(&byDefault, 0, sizeof byDefault);
        byDefault.sa_handler = SIG_DFL;
        for (int signalNumber : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT}) {
            struct sigaction current;
            if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
                sigaction(signalNumber, &byDefault, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (;;) pause();
    }
    if (pid < 0) return 0;
    // Also here, so that the group exists before the launcher goes on.
    setpgid(pid, group == 0 ? pid : group);
    return pid;
}

// The sentinel's end tells what the terminal did to the group; true when
// that was an interruption, which the launcher now has too.
bool relayEnd(int status) {
    if (!WIFSIGNALED(status)) return false;
    const int signalNumber = WTERMSIG(status);
    if (std::find(std::begin(interruptionSignals), std::end(interruptionSignals), signalNumber) ==
        std::end(interruptionSignals))
        return false;
    signalFromTerminal = signalNumber;
    kill(getpid(), signalNumber);
    return true;
}

// A signal that was on its way to the sentinel stays the cause of its end
// even when SIGKILL ends it first.
void endSentinel(Child& child, bool stopFirst) {
    if (child.sentinel == 0) return;
    if (stopFirst) kill(child.sentinel, SIGKILL);
    int status = 0;
    while (waitpid(child.sentinel, &status, 0) < 0 && errno == EINTR) {
    }
    child.sentinel = 0;
    if (relayEnd(status)) child.interrupted = true;
}

// Gives the child's group the terminal when the launcher has it, with a
// sentinel in the group to learn what the terminal does to the group.
void handTerminalOver(Child& child) {
    if (!inForeground(child.terminal)) return;
    if (child.sentinel == 0) child.sentinel = startSentinel(child.group);
    if (child.sentinel != 0) giveTerminal(child.terminal, child.group);
}

// Whom the launcher waits for: the child, or its whole group while the
// sentinel is in it (both are the launcher's own children).
idtype_t watchedKind(const Child& child) { return child.sentinel != 0 ? P_PGID : P_PID; }
id_t watchedId(const Child& child) { return static_cast<id_t>(child.sentinel != 0 ? child.group : child.pid); }

// A child (or the sentinel) stopped by Ctrl-Z, or because it touched the
// terminal from the background: the launcher stops too. Every stop already
// there is taken, so that one Ctrl-Z stops the launcher once. A plain
// SIGSTOP (a debugger, kill -STOP) is left to whoever sent it.
void answerStop(Child& child, const siginfo_t& stop) {
    siginfo_t consumed;
    const bool jobControl = stop.si_status == SIGTSTP || stop.si_status == SIGTTIN || stop.si_status == SIGTTOU;
    for (;;) {
        std::memset(&consumed, 0, sizeof consumed);
        const idtype_t kind = jobControl ? watchedKind(child) : P_PID;
        const id_t id = jobControl ? watchedId(child) : static_cast<id_t>(stop.si_pid);
        if (waitid(kind, id, &consumed, WSTOPPED | WNOHANG) != 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (consumed.si_pid == 0 || !jobControl) break;
    }
    if (!jobControl) return;
    takeTerminalBackFrom(child.terminal, child.group);
    kill(getpid(), SIGSTOP);
    // Going on again: the shell has let the launcher go on.
    handTerminalOver(child);
    kill(-child.group, SIGCONT);
}

bool exited(int code) { return code == CLD_EXITED || code == CLD_KILLED || code == CLD_DUMPED; }

// Reads what is there; false once the pipe has ended.
bool readAvailable(int fd, std::size_t limit, std::string& kept) {
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (got <= 0) return false;
        std::size_t room = limit > kept.size() ? limit - kept.size() : 0;
        kept.append(buffer, std::min(room, static_cast<std::size_t>(got)));
    }
}

enum class WaitEnd { ended, limitReached, failed };

// Watches the child until it has ended, and leaves it unreaped, so that its
// group's number cannot go to another process while the launcher may still
// signal it. Meanwhile it reads the error pipe (the pipe's end is not
// awaited: a helper of the child may hold it open for ever), answers what
// the terminal does, and keeps the deadline.
WaitEnd awaitEnd(Child& child, int errorPipe, std::size_t keep, std::string* kept,
                 std::optional<Clock::time_point> deadline) {
    const bool jobControl = child.terminal != noTerminal;
    for (;;) {
        const bool polling = errorPipe != noErrorPipe || deadline.has_value();
        siginfo_t info;
        std::memset(&info, 0, sizeof info);
        const int flags = WEXITED | WNOWAIT | (jobControl ? WSTOPPED : 0) | (polling ? WNOHANG : 0);
        if (waitid(watchedKind(child), watchedId(child), &info, flags) != 0) {
            if (errno == EINTR) continue;
            return WaitEnd::failed;
        }
        if (info.si_pid != 0) {
            if (info.si_code == CLD_STOPPED) answerStop(child, info);
            else if (info.si_pid == child.pid && exited(info.si_code)) return WaitEnd::ended;
            else if (info.si_pid == child.sentinel) endSentinel(child, false);
            // A helper of the child's, adopted when the child ended before it.
            else if (exited(info.si_code)) waitpid(info.si_pid, nullptr, WNOHANG);
            continue;
        }
        auto pause = std::chrono::milliseconds(50);
        if (deadline) {
            const Clock::time_point now = Clock::now();
            if (now >= *deadline) return WaitEnd::limitReached;
            pause = std::min(pause, std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now) +
                                        std::chrono::milliseconds(1));
        }
        if (errorPipe != noErrorPipe) {
            pollfd readable{errorPipe, POLLIN, 0};
            if (poll(&readable, 1, static_cast<int>(pause.count())) > 0 && !readAvailable(errorPipe, keep, *kept))
                errorPipe = noErrorPipe;
        } else {
            const timespec step{0, static_cast<long>(pause.count()) * 1000000L};
            nanosleep(&step, nullptr);
        }
    }
}

// Starts a program in a process group of its own (a session of its own when
// detached); false when it could not be started. With an error pipe, its
// standard output goes to the null device and its standard error into the pipe.
bool spawnChild(const std::vector<std::string>& arguments, bool detach, bool discardOutput, int errorPipe,
                Child& child) {
    if (arguments.empty() || arguments[0].empty()) return false;

    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (discardOutput || errorPipe != noErrorPipe) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, errorPipe != noErrorPipe ? errorPipe : STDOUT_FILENO,
                                         STDERR_FILENO);
    }
    // The launcher blocks the interruption signals for its signal thread; the
    // child starts with none blocked and their default actions.
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : interruptionSignals) sigaddset(&defaults, signalNumber);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    // Without a controlling terminal, like a Windows process started detached from the console.
    flags |= detach ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP;

    const InterruptionGate::ChildId started = processGate().startChild([&]() -> InterruptionGate::ChildId {
        child.terminal = detach ? noTerminal : controllingTerminal();
        if (!detach && inForeground(child.terminal)) {
            // The sentinel leads the group, which has the terminal before the
            // program runs: it cannot touch the terminal from the background.
            child.sentinel = startSentinel(0);
            if (child.sentinel != 0) {
                child.group = child.sentinel;
                giveTerminal(child.terminal, child.group);
            }
        }
        posix_spawnattr_setpgroup(&attributes, child.group);
        posix_spawnattr_setflags(&attributes, flags);
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) {
            takeTerminalBackFrom(child.terminal, child.group);
            endSentinel(child, true);
            return 0;
        }
        child.pid = pid;
        if (child.group == 0) child.group = pid;
        return child.group;
    });
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return started != 0;
}

// The end of a child's run: the terminal back, the sentinel reaped, the gate
// told (which stops an interrupted thread here for good) and the child reaped.
// Ctrl-C on the terminal often ends the child too: the interruption must then
// have begun before the gate hears of the end, or it would find no child to
// stop what the child started.
ProcessOutcome finish(Child& child) {
    takeTerminalBackFrom(child.terminal, child.group);
    endSentinel(child, true);
    for (int i = 0; child.interrupted && i < 400 && !processGate().interrupted(); ++i) {
        const timespec step{0, 5000000L};
        nanosleep(&step, nullptr);
    }
    processGate().childEnded(child.group);
    ProcessOutcome outcome;
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0) {
        if (errno != EINTR) return outcome;
    }
    reapAdoptedDescendants();
    outcome.completed = true;
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) outcome.exitCode = 128 + WTERMSIG(status);
    return outcome;
}

// Still running at the limit: the whole group is stopped.
ProcessOutcome stopAtLimit(Child& child) {
    kill(-child.group, SIGKILL);
    awaitEnd(child, noErrorPipe, 0, nullptr, std::nullopt);
    ProcessOutcome outcome = finish(child);
    outcome.completed = false;
    outcome.timedOut = true;
    return outcome;
}

} // namespace

ProcessOutcome spawnAndWait(const std::vector<std::string>& arguments, bool detach, bool discardOutput,
                            std::optional<std::chrono::milliseconds> limit) {
    Child child;
    if (!spawnChild(arguments, detach, discardOutput, noErrorPipe, child)) return {};
    std::optional<Clock::time_point> deadline;
    if (limit) deadline = Clock::now() + *limit;
    if (awaitEnd(child, noErrorPipe, 0, nullptr, deadline) == WaitEnd::limitReached) return stopAtLimit(child);
    return finish(child);
}

ProcessOutcome spawnKeepingErrors(const std::vector<std::string>& arguments, std::size_t limit, std::string& errors) {
    ProcessOutcome outcome;
    errors.clear();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return outcome;
    // The launcher reads only what is there: the child's end stays blocking.
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    Child child;
    const bool started = spawnChild(arguments, false, true, ends[1], child);
    // Only the child may hold the write end, or the pipe would never end.
    close(ends[1]);
    if (started) {
        // What the child wrote before it ended is still in the pipe.
        if (awaitEnd(child, ends[0], limit, &errors, std::nullopt) == WaitEnd::ended)
            readAvailable(ends[0], limit, errors);
        outcome = finish(child);
    }
    close(ends[0]);
    return outcome;
}

bool takeSignalFromTerminal(int signalNumber) {
    int expected = signalNumber;
    return signalFromTerminal.compare_exchange_strong(expected, 0);
}

void reclaimTerminal() {
    const pid_t holder = terminalHolder;
    if (holder != 0) takeTerminalBackFrom(controllingTerminal(), holder);
}

} // namespace posix
} // namespace talve
