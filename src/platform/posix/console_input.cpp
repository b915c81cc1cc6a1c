#include "platform/posix/console_input.h"

#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <termios.h>
#include <unistd.h>

namespace talve {

namespace {
struct termios savedSettings;
struct termios rawSettings;
volatile std::sig_atomic_t settingsSaved = 0;

// Signals that still end the process while the terminal is raw (Ctrl-C
// itself arrives as a byte then, but another process may send them).
const int interruptingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[sizeof interruptingSignals / sizeof interruptingSignals[0]];
bool handlersInstalled = false;

void restoreThenPassOn(int signal) {
    restoreTerminalAfterInterrupt();
    for (std::size_t i = 0; i < sizeof interruptingSignals / sizeof interruptingSignals[0]; ++i)
        if (interruptingSignals[i] == signal) sigaction(signal, &previousActions[i], nullptr);
    // Delivered again once this handler returns, to whoever had it before.
    raise(signal);
}

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = restoreThenPassOn;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < sizeof interruptingSignals / sizeof interruptingSignals[0]; ++i)
        sigaction(interruptingSignals[i], &action, &previousActions[i]);
    handlersInstalled = true;
}

void removeInterruptHandlers() {
    if (!handlersInstalled) return;
    for (std::size_t i = 0; i < sizeof interruptingSignals / sizeof interruptingSignals[0]; ++i)
        sigaction(interruptingSignals[i], &previousActions[i], nullptr);
    handlersInstalled = false;
}

// A stop (kill -TSTP; Ctrl-Z itself arrives as a byte) must not leave the
// user's shell with a terminal that neither echoes nor edits lines, and the
// prompt must mask again once the launcher goes on. The handlers act on the
// thread that reads the keys only, which blocks them while the settings
// change hands, so neither can put a raw terminal back after the entry.
pthread_t keyEntryThread;
struct sigaction previousStopAction, previousContinueAction;
bool stopHandlersInstalled = false;

void switchBackToRaw() {
    if (settingsSaved) tcsetattr(STDIN_FILENO, TCSANOW, &rawSettings);
}

bool passedToKeyEntryThread(int signal) {
    if (pthread_equal(pthread_self(), keyEntryThread)) return false;
    pthread_kill(keyEntryThread, signal);
    return true;
}

void stopWithTerminalBack(int signal) {
    if (passedToKeyEntryThread(signal)) return;
    const int savedErrno = errno;
    if (settingsSaved) tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    struct sigaction ours, stopNow {};
    stopNow.sa_handler = SIG_DFL;
    sigemptyset(&stopNow.sa_mask);
    sigaction(SIGTSTP, &stopNow, &ours);
    sigset_t only, before;
    sigemptyset(&only);
    sigaddset(&only, SIGTSTP);
    pthread_sigmask(SIG_UNBLOCK, &only, &before);
    // Stops here, and returns once continued (at once where the system
    // discards the stop, for a process group without a shell to resume it).
    raise(SIGTSTP);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    sigaction(SIGTSTP, &ours, nullptr);
    switchBackToRaw();
    errno = savedErrno;
}

// Also after a stop that could not be caught (SIGSTOP, or a read from the
// background), during which the shell took the terminal and set it its way.
void rawAgainOnContinue(int signal) {
    if (passedToKeyEntryThread(signal)) return;
    const int savedErrno = errno;
    switchBackToRaw();
    errno = savedErrno;
}

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTSTP);
    sigaddset(&signals, SIGCONT);
    return signals;
}

void installStopHandlers() {
    keyEntryThread = pthread_self();
    struct sigaction action {};
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    action.sa_handler = stopWithTerminalBack;
    sigaction(SIGTSTP, &action, &previousStopAction);
    action.sa_handler = rawAgainOnContinue;
    sigaction(SIGCONT, &action, &previousContinueAction);
    stopHandlersInstalled = true;
}

void removeStopHandlers() {
    if (!stopHandlersInstalled) return;
    sigaction(SIGTSTP, &previousStopAction, nullptr);
    sigaction(SIGCONT, &previousContinueAction, nullptr);
    stopHandlersInstalled = false;
}

// Holds the stop signals back on this thread for as long as it lives.
class StopSignalsHeld {
public:
    StopSignalsHeld() {
        const sigset_t signals = stopSignals();
        pthread_sigmask(SIG_BLOCK, &signals, &before_);
    }
    ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

private:
    sigset_t before_;
};
} // namespace

void restoreTerminalAfterInterrupt() {
    if (!settingsSaved) return;
    // TCSANOW: keys typed ahead for the next prompt stay.
    tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    settingsSaved = 0;
}

void beginTerminalKeyEntry() {
    StopSignalsHeld held;
    if (settingsSaved || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedSettings) != 0) return;
    rawSettings = savedSettings;
    rawSettings.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON | ISIG | IEXTEN));
    rawSettings.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IXON));
    rawSettings.c_cc[VMIN] = 1;
    rawSettings.c_cc[VTIME] = 0;
    installInterruptHandlers();
    installStopHandlers();
    settingsSaved = 1;
    // TCSAFLUSH: what was typed before the prompt showed is not part of the key.
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &rawSettings) != 0) {
        settingsSaved = 0;
        removeStopHandlers();
        removeInterruptHandlers();
    }
}

int readStandardInputByte() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        return -1;
    }
}

void endTerminalKeyEntry() {
    StopSignalsHeld held;
    restoreTerminalAfterInterrupt();
    removeStopHandlers();
    removeInterruptHandlers();
}

bool systemRandomBytes(std::uint8_t* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t got = getrandom(buffer, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace talve
