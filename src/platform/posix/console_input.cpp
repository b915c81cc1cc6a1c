#include "platform/posix/console_input.h"

#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <sys/random.h>
#include <termios.h>
#include <unistd.h>

namespace talve {

namespace {
struct termios savedSettings;
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
} // namespace

void restoreTerminalAfterInterrupt() {
    if (!settingsSaved) return;
    // TCSANOW: keys typed ahead for the next prompt stay.
    tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    settingsSaved = 0;
}

void beginTerminalKeyEntry() {
    if (settingsSaved || !isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedSettings) != 0) return;
    struct termios raw = savedSettings;
    raw.c_lflag &= static_cast<tcflag_t>(~(ECHO | ICANON | ISIG | IEXTEN));
    raw.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IXON));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    installInterruptHandlers();
    settingsSaved = 1;
    // TCSAFLUSH: what was typed before the prompt showed is not part of the key.
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) {
        settingsSaved = 0;
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
    restoreTerminalAfterInterrupt();
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
