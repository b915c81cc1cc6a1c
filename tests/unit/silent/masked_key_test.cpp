#include "silent/masked_key.h"
#include "unit/support/fake_platform.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

using test::FakePlatform;

struct Typed {
    MaskedEntry entry;
    std::string shown;
};

Typed typeAt(FakePlatform& platform, const std::string& prompt = "key: ") {
    testing::internal::CaptureStdout();
    Typed typed;
    typed.entry = readMaskedKey(platform, prompt);
    typed.shown = testing::internal::GetCapturedStdout();
    return typed;
}

TEST(MaskedKey, ShowsStarsAndTakesBackspacesOfBothKinds) {
    FakePlatform platform;
    platform.type(std::string("\b") + "abc\b" + "\x7f" + "Z\r");
    const Typed typed = typeAt(platform);
    EXPECT_EQ(typed.entry.text, "aZ");
    EXPECT_FALSE(typed.entry.inputEnded);
    // The first Backspace, on an empty entry, shows nothing.
    EXPECT_EQ(typed.shown, "key: ***\b \b\b \b*\n");
    EXPECT_EQ(platform.keyEntriesBegun, 1);
    EXPECT_EQ(platform.keyEntriesEnded, 1);
}

TEST(MaskedKey, TakesTwoHundredCharactersAndRefusesALongerEntryAloud) {
    FakePlatform platform;
    platform.type(std::string(200, 'k') + "\n" + std::string(205, 'k') + "\b\n");
    Typed typed = typeAt(platform, "");
    EXPECT_EQ(typed.entry.text, std::string(200, 'k'));
    EXPECT_FALSE(typed.entry.tooLong);
    // Cut silently, the entry would be a key the user never typed.
    typed = typeAt(platform, "");
    EXPECT_EQ(typed.entry.text, "");
    EXPECT_TRUE(typed.entry.tooLong);
    EXPECT_EQ(typed.shown, std::string(200, '*') + "\b \b\nThe key is longer than 200 characters; this entry is not taken.\n");
}

TEST(KeyRule, TakesWhatThePromptCanTypeAndStore) {
    for (const std::string& key : {std::string(1, 'k'), std::string(200, 'k'), std::string("Cl\xe9 Secret~1")})
        EXPECT_EQ(keyRuleProblem(key), nullptr) << key;
    const std::string tooLong(201, 'k');
    EXPECT_STREQ(keyRuleProblem(""), "the key is empty");
    EXPECT_STREQ(keyRuleProblem(tooLong), "the key is longer than 200 bytes, the most the launcher's prompt takes");
    for (const std::string& key : {std::string("Ab1\tcdefg"), std::string("Abcdefg1\x7f"), std::string("Ab\0cdefg1", 10)})
        EXPECT_STREQ(keyRuleProblem(key),
                     "the key holds a control character (such as a Tab), which the launcher's prompt cannot take");
}

TEST(MaskedKey, CtrlCCtrlZAndTheEndOfInputGiveAnEmptyEntry) {
    for (const char stop : {'\x03', '\x1a'}) {
        FakePlatform platform;
        platform.type(std::string("abc") + stop + "def\r");
        const Typed typed = typeAt(platform);
        EXPECT_EQ(typed.entry.text, "");
        EXPECT_FALSE(typed.entry.inputEnded);
        EXPECT_EQ(platform.keyEntriesEnded, 1);
        // What followed stays for the next prompt.
        EXPECT_EQ(platform.keystrokes.size(), 4u);
    }
    FakePlatform platform;
    platform.type("abc");
    const Typed typed = typeAt(platform);
    EXPECT_EQ(typed.entry.text, "");
    EXPECT_TRUE(typed.entry.inputEnded);
    EXPECT_EQ(platform.keyEntriesEnded, 1);
}

TEST(MaskedKey, CtrlDEndsTheInputOnlyOnAnEmptyEntry) {
    FakePlatform platform;
    platform.type("Abcdefgh12\x04\r\x04more\r");
    const Typed typed = typeAt(platform);
    EXPECT_EQ(typed.entry.text, "Abcdefgh12");
    EXPECT_FALSE(typed.entry.inputEnded);
    EXPECT_EQ(typed.shown, "key: **********\n");
    const Typed ended = typeAt(platform);
    EXPECT_EQ(ended.entry.text, "");
    EXPECT_TRUE(ended.entry.inputEnded);
    EXPECT_EQ(ended.shown, "key: \n");
    EXPECT_EQ(platform.keyEntriesEnded, 2);
}

TEST(MaskedKey, CtrlCAndCtrlZEndTheLineSoThatWhatFollowsStartsANewOne) {
    for (const char* stop : {"\x03", "\x1a"}) {
        FakePlatform platform;
        platform.type(std::string("ab") + stop);
        EXPECT_EQ(typeAt(platform).shown, "key: **\n");
    }
}

TEST(MaskedKey, DropsControlBytesEscapeSequencesAndKeysWithoutCharacter) {
    FakePlatform platform;
    // Tab, NUL, an arrow (CSI), F1 (SS3), F5 with parameters, Alt+x, a
    // bracketed paste's markers, and a key the console reports as no character.
    platform.type(std::string("a\tb") + '\0' + "c\x1b[Ad\x1bOPe\x1b[15;2~f\x1bxg\x1b[200~h\x1b[201~");
    platform.keystrokes.push_back(keyWithoutCharacter);
    platform.type("i\x1b\x1b[Bj\r");
    const Typed typed = typeAt(platform);
    EXPECT_EQ(typed.entry.text, "abcdefghij");
    EXPECT_EQ(typed.shown, "key: **********\n");
}

TEST(MaskedKey, AControlKeyCutsAnEscapeSequenceShortAndCounts) {
    // Esc and then Enter, Backspace or Ctrl-C at once: the key still does its work.
    FakePlatform platform;
    platform.type("ab\x1b\x7f\x1b[1\rnext\x1bO\x03");
    const Typed first = typeAt(platform);
    EXPECT_EQ(first.entry.text, "a");
    EXPECT_EQ(first.shown, "key: **\b \b\n");
    EXPECT_EQ(typeAt(platform).entry.text, "");
    EXPECT_TRUE(platform.keystrokes.empty());
    // The input may end in the middle of a sequence.
    platform.type("abc\x1b[");
    const Typed cut = typeAt(platform);
    EXPECT_TRUE(cut.entry.inputEnded);
    EXPECT_EQ(cut.entry.text, "");
}

TEST(MaskedKey, ReadsLinesEndingInCrLfOneEntryEach) {
    FakePlatform platform;
    platform.type("first\r\nsecond\r\n\nfourth\n");
    EXPECT_EQ(typeAt(platform).entry.text, "first");
    EXPECT_EQ(typeAt(platform).entry.text, "second");
    // Only the line feed right after a CR goes with it: an empty line stays one.
    EXPECT_EQ(typeAt(platform).entry.text, "");
    EXPECT_EQ(typeAt(platform).entry.text, "fourth");
}

TEST(KeyComplexity, AcceptsOnlyWithinTheBoundaries) {
    struct Case {
        const char* key;
        bool complex;
    } cases[] = {
        {"Abcdefg1", true},                 // 8: the shortest
        {"Abcdef1", false},                 // 7
        {"Abcdefghijklmnopqrs1", true},     // 20: the longest
        {"Abcdefghijklmnopqrst1", false},   // 21
        {"Aaaaa1cd", true},                 // "a" 4 times in 8
        {"Aaaaaa1c", false},                // 5 times in 8
        {"Abbbb1cde", true},                // 4 times in 9 (half is 4.5, rounded down)
        {"Abbbbb1cd", false},               // 5 times in 9
        {"abcdefg1", false},                // no uppercase
        {"ABCDEFG1", false},                // no lowercase
        {"Abcdefgh", false},                // no digit
        {"", false},
        {"Ab1\xe9\xe8\xe7\xe6\xe5", true}, // other bytes count as characters only
    };
    for (const Case& c : cases) EXPECT_EQ(isKeyComplex(c.key), c.complex) << c.key;
}

} // namespace
} // namespace talve
