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
};

constexpr std::size_t maskedKeyCapacity = 200;

// Prints prompt, then one "*" per stored key; Backspace (8 or 127) takes the
// last one back, Enter (13 or 10) ends the entry, Ctrl-C (3), Ctrl-Z (26)
// and the end of the input end it empty. Keys past the 200th are dropped.
// The prompt and stars go to screen (a tool keeps standard output for its result).
MaskedEntry readMaskedKey(Platform& platform, const std::string& prompt, std::FILE* screen = stdout);

// 8 to 20 characters, an uppercase letter, a lowercase letter and a digit,
// and no character more often than half the length, rounded down.
bool isKeyComplex(const std::string& key);

} // namespace talve
