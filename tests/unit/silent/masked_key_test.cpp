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

TEST(MaskedKey, KeepsTwoHundredCharactersAndDropsTheRestUnseen) {
    FakePlatform platform;
    platform.type(std::string(205, 'k') + "\n");
    const Typed typed = typeAt(platform, "");
    EXPECT_EQ(typed.entry.text, std::string(200, 'k'));
    EXPECT_EQ(typed.shown, std::string(200, '*') + "\n");
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
