#pragma once

// Reading a key at the console without showing it, and the rules a record
// key must meet.

#include <cstdio>
#include <string>

namespace talve {

class Platform;

struct MaskedEntry {
    std::string text;
    // The input ended during this entry: nothing more will ever be typed.
    bool inputEnded = false;
    // More keys were typed than an entry holds: the entry is refused whole.
    bool tooLong = false;
};

constexpr std::size_t maskedKeyCapacity = 200;

// Prints prompt, then one "*" per stored key; Backspace (8 or 127) takes the
// last one back, Enter (13 or 10) ends the entry, Ctrl-C (3) and Ctrl-Z (26)
// end it empty and end the line; Ctrl-D (4) on an empty entry does the same
// and, like the end of the input, says that the input has ended.
// Other control bytes, escape sequences (arrows, function keys) and keys
// without a character are dropped. Keys past the 200th are neither stored nor
// shown; at Enter such an entry is refused (empty, tooLong) with a line that
// says so, rather than taken cut to a key the user never typed.
// The prompt and stars go to screen (a tool keeps standard output for its result).
MaskedEntry readMaskedKey(Platform& platform, const std::string& prompt, std::FILE* screen = stdout);

// 8 to 20 characters, an uppercase letter, a lowercase letter and a digit,
// and no character more often than half the length, rounded down.
bool isKeyComplex(const std::string& key);

// The rule for every user's key, in the launcher, talve-pack and the
// installer library: 1 to 200 bytes, the most the prompt stores (and far less
// than KORVU_SILENT_K can carry), none a control byte, which the prompt
// cannot type. Nothing when the key keeps it, otherwise why not.
const char* keyRuleProblem(const std::string& key);

} // namespace talve
