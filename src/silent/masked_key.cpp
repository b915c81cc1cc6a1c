#include "silent/masked_key.h"

#include "platform/platform.h"

#include <cctype>
#include <cstdio>
#include <map>

namespace talve {

namespace {
constexpr int enterKey = 13, lineFeed = 10, backspaceKey = 8, deleteKey = 127, ctrlC = 3, ctrlZ = 26;

// A script's input ends its lines in CR LF just as often as in LF: the LF
// after a CR that ended an entry belongs to that entry, not to the next.
bool lastEntryEndedInCarriageReturn = false;

void show(const char* text, std::FILE* screen) {
    std::fputs(text, screen);
    std::fflush(screen);
}
} // namespace

MaskedEntry readMaskedKey(Platform& platform, const std::string& prompt, std::FILE* screen) {
    // Keys typed once the prompt shows must find the terminal switched already.
    platform.beginKeyEntry();
    show(prompt.c_str(), screen);
    MaskedEntry entry;
    bool firstKey = true;
    for (;;) {
        const int key = platform.readKeystroke();
        if (firstKey && key == lineFeed && lastEntryEndedInCarriageReturn) {
            firstKey = false;
            continue;
        }
        firstKey = false;
        lastEntryEndedInCarriageReturn = key == enterKey;
        if (key < 0) {
            entry.inputEnded = true;
            entry.text.clear();
            break;
        }
        if (key == enterKey || key == lineFeed) {
            show("\n", screen);
            break;
        }
        if (key == ctrlC || key == ctrlZ) {
            entry.text.clear();
            break;
        }
        if (key == backspaceKey || key == deleteKey) {
            if (!entry.text.empty()) {
                show("\b \b", screen);
                entry.text.pop_back();
            }
            continue;
        }
        if (entry.text.size() < maskedKeyCapacity) {
            show("*", screen);
            entry.text.push_back(static_cast<char>(key));
        }
    }
    platform.endKeyEntry();
    return entry;
}

bool isKeyComplex(const std::string& key) {
    if (key.size() < 8 || key.size() > 20) return false;
    bool upper = false, lower = false, digit = false;
    std::map<char, std::size_t> occurrences;
    for (char c : key) {
        const unsigned char byte = static_cast<unsigned char>(c);
        upper = upper || std::isupper(byte);
        lower = lower || std::islower(byte);
        digit = digit || std::isdigit(byte);
        if (++occurrences[c] > key.size() / 2) return false;
    }
    return upper && lower && digit;
}

} // namespace talve
