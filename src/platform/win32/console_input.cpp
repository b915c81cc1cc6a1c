#include "platform/win32/console_input.h"

#include "platform/platform.h"

#include <windows.h>
#include <conio.h>
#include <ntsecapi.h>

#include <cstdio>

namespace talve {

namespace {
bool readingConsole = false;
} // namespace

// _getch reads the console without echo and leaves its modes as they were.
void restoreTerminalAfterInterrupt() {}

// _isatty is true for any character device, the null device included: only
// a handle that has console modes is the console that _getch reads.
void beginConsoleKeyEntry() {
    DWORD mode = 0;
    readingConsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

int readConsoleKeystroke() {
    if (readingConsole) {
        const int key = _getch();
        // The console reports Esc as a key of its own, never as the start
        // of a sequence, so nothing after it may be taken for one.
        if (key == 27) return keyWithoutCharacter;
        // An arrow or function key comes as 0 or 0xE0 and then its code, which
        // _getch already holds (hence _kbhit); a lone 0xE0 is a character of
        // the code page.
        if ((key == 0 || key == 0xE0) && _kbhit()) {
            _getch();
            return keyWithoutCharacter;
        }
        return key;
    }
    // A script's input: taken as it comes, its end is the end of the entry.
    const int c = std::fgetc(stdin);
    return c == EOF ? -1 : c;
}

bool systemRandomBytes(std::uint8_t* buffer, std::size_t size) {
    // RtlGenRandom (advapi32), present since Windows XP.
    while (size > 0) {
        const ULONG chunk = size > 0x10000 ? 0x10000 : static_cast<ULONG>(size);
        if (!RtlGenRandom(buffer, chunk)) return false;
        buffer += chunk;
        size -= chunk;
    }
    return true;
}

} // namespace talve
