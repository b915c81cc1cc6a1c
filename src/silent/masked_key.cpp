#include "silent/masked_key.h"

#include "platform/platform.h"

#include <cctype>
#include <cstdio>
#include <map>

namespace talve {

namespace {
constexpr int enterKey = 13, lineFeed = 10, backspaceKey = 8, deleteKey = 127, ctrlC = 3, ctrlD = 4, ctrlZ = 26,
              escapeKey = 27;
// readKeyAfterEscape: the escape sequence has been read to its end.
constexpr int wholeSequence = -2;

// A script's input ends its lines in CR LF just as often as in LF: the LF
// after a CR that ended an entry belongs to that entry, not to the next.
bool lastEntryEndedInCarriageReturn = false;

void show(const char* text, std::FILE* screen) {
    std::fputs(text, screen);
    std::fflush(screen);
}

bool isControlByte(int key) { return (key >= 0 && key < 0x20) || key == deleteKey; }

// A terminal sends arrows, function keys and Alt with a key as ESC followed
// by a few bytes, none of which the user meant as part of the key. Reads
// the rest of the sequence; a control byte or the end of the input cuts it
// short, and is then handed back to be taken as typed.
int readKeyAfterEscape(Platform& platform) {
    int key = platform.readKeystroke();
    if (key == '[') {
        // Parameter and intermediate bytes, then one final byte.
        do key = platform.readKeystroke();
        while (key >= 0x20 && key <= 0x3f);
        return key >= 0x40 && key <= 0x7e ? wholeSequence : key;
    }
    if (key == 'O') key = platform.readKeystroke();
    return key >= 0x20 && key <= 0x7e ? wholeSequence : key;
}
} // namespace

MaskedEntry readMaskedKey(Platform& platform, const std::string& prompt, std::FILE* screen) {
    // Keys typed once the prompt shows must find the terminal switched already.
    platform.beginKeyEntry();
    show(prompt.c_str(), screen);
    MaskedEntry entry;
    bool firstKey = true;
    for (;;) {
        int key = platform.readKeystroke();
        if (firstKey && key == lineFeed && lastEntryEndedInCarriageReturn) {
            firstKey = false;
            continue;
        }
        firstKey = false;
        while (key == escapeKey) key = readKeyAfterEscape(platform);
        if (key == wholeSequence || key == keyWithoutCharacter) continue;
        lastEntryEndedInCarriageReturn = key == enterKey;
        if (key < 0) {
            entry.inputEnded = true;
            entry.text.clear();
            break;
        }
        if (key == enterKey || key == lineFeed) {
            show("\n", screen);
            if (entry.tooLong) {
                show("The key is longer than 200 characters; this entry is not taken.\n", screen);
                entry.text.clear();
            }
            break;
        }
        // What is printed next (a refusal, the next prompt) starts a line of its own.
        if (key == ctrlC || key == ctrlZ) {
            show("\n", screen);
            entry.text.clear();
            break;
        }
        // As at a shell: Ctrl-D on an empty line is the end of the input.
        if (key == ctrlD && entry.text.empty()) {
            show("\n", screen);
            entry.inputEnded = true;
            break;
        }
        if (key == backspaceKey || key == deleteKey) {
            if (!entry.text.empty()) {
                show("\b \b", screen);
                entry.text.pop_back();
            }
            continue;
        }
        if (isControlByte(key)) continue;
        if (entry.text.size() < maskedKeyCapacity) {
            show("*", screen);
            entry.text.push_back(static_cast<char>(key));
        } else {
            entry.tooLong = true;
        }
    }
    platform.endKeyEntry();
    return entry;
}

const char* keyRuleProblem(const std::string& key) {
    if (key.empty()) return "the key is empty";
    if (key.size() > maskedKeyCapacity) return "the key is longer than 200 bytes, the most the launcher's prompt takes";
    for (const char c : key)
        if (isControlByte(static_cast<unsigned char>(c)))
            return "the key holds a control character (such as a Tab), which the launcher's prompt cannot take";
    return nullptr;
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
