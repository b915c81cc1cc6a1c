#include "crypto/protected_value.h"

#include <gtest/gtest.h>

#include <cstring>

namespace talve {
namespace {

using namespace crypto;

IV ivOf(std::uint8_t seed) {
    IV iv;
    for (std::size_t i = 0; i < iv.size(); ++i) iv[i] = static_cast<std::uint8_t>(seed + i);
    return iv;
}

std::string protect(const ValueKey& key, const std::string& text, std::uint8_t seed = 1) {
    std::string value;
    EXPECT_EQ(protectValue(key, text, ivOf(seed), value), 0);
    return value;
}

// A value with one character replaced and its check character made right again,
// so that only the cipher can notice.
std::string tamperedBody(std::string value, std::size_t position) {
    value[position] = value[position] == valueAlphabet[0] ? valueAlphabet[1] : valueAlphabet[0];
    value.back() = checkCharacterFor(value.substr(0, value.size() - 1));
    return value;
}

TEST(ValueText, EncodesAndDecodesEveryLengthAndRefusesForeignText) {
    std::vector<std::uint8_t> bytes;
    for (int length = 0; length < 40; ++length) {
        const std::string text = encodeValueText(bytes);
        EXPECT_EQ(text.size(), (bytes.size() * 8 + 5) / 6);
        EXPECT_EQ(decodeValueText(text), bytes);
        bytes.push_back(static_cast<std::uint8_t>(length * 37 + 200));
    }
    EXPECT_EQ(std::strlen(valueAlphabet), 64u);
    EXPECT_FALSE(decodeValueText("ab=d"));       // not in the alphabet
    EXPECT_FALSE(decodeValueText("q7Kfq"));      // a lone character of 6 bits
    // Unused low bits must be zero: only one text per byte string.
    const std::string one = encodeValueText({0xff});
    std::string other = one;
    other.back() = valueAlphabet[63];
    EXPECT_NE(one, other);
    EXPECT_FALSE(decodeValueText(other));
}

TEST(CheckCharacter, IsTheAlphabetAtTheByteSumModulo64) {
    // "A" is 65, "B" 66: 131 % 64 = 3.
    EXPECT_EQ(checkCharacterFor("AB"), valueAlphabet[3]);
    EXPECT_TRUE(hasValidCheckCharacter(std::string("AB") + valueAlphabet[3]));
    EXPECT_FALSE(hasValidCheckCharacter(std::string("AB") + valueAlphabet[4]));
    EXPECT_FALSE(hasValidCheckCharacter(""));
    // Bytes above 127 count as their unsigned value.
    EXPECT_EQ(checkCharacterFor("\xff"), valueAlphabet[255 % 64]);
}

TEST(ProgramKey, ProtectsAnyTextIntoAWellFormedValueThatComesBack) {
    const ValueKey key = programValueKey();
    EXPECT_EQ(key.tag, "----");
    const std::string texts[] = {"", "a", "Abcdefg1", std::string(15, 'x'), std::string(16, 'y'),
                                 std::string(200, 'z'), std::string("nul\0byte\xff", 9)};
    for (const std::string& text : texts) {
        const std::string value = protect(key, text);
        EXPECT_GE(value.size(), shortestValue);
        EXPECT_EQ(value.substr(0, 4), "----");
        EXPECT_TRUE(hasValidCheckCharacter(value));
        EXPECT_EQ(value.find_first_of("=:#! \t\\"), std::string::npos) << value;
        EXPECT_EQ(revealValue(key, value), text);
    }
    // The IV makes two protections of one text differ.
    EXPECT_NE(protect(key, "same", 1), protect(key, "same", 2));
}

TEST(ProgramKey, RefusesDamagedValues) {
    const ValueKey key = programValueKey();
    const std::string value = protect(key, "Secret12");
    std::string badCheck = value;
    badCheck.back() = badCheck.back() == valueAlphabet[0] ? valueAlphabet[1] : valueAlphabet[0];
    EXPECT_FALSE(revealValue(key, badCheck));
    EXPECT_FALSE(revealValue(key, value.substr(0, 19)));
    // The last cipher block changed: the padding no longer decrypts as valid
    // (every byte of the last block decides it, so a change anywhere in it shows).
    EXPECT_FALSE(revealValue(key, tamperedBody(value, value.size() - 3)));
    // A whole block cut off leaves a well-formed length but no valid value.
    const std::string longer = protect(key, std::string(20, 'q'));
    std::string cut = longer.substr(0, longer.size() - 1 - 21);
    cut.push_back(checkCharacterFor(cut));
    EXPECT_FALSE(revealValue(key, cut));
}

TEST(UserKey, SharesOneTagPerKeyAndFitsOnlyItsOwnValues) {
    const ValueKey alice = userValueKey("Alice2024key");
    const ValueKey again = userValueKey("Alice2024key");
    const ValueKey bob = userValueKey("Bob2024keyXY");
    EXPECT_EQ(alice.tag, again.tag);
    EXPECT_EQ(alice.aesKey, again.aesKey);
    EXPECT_NE(alice.tag, bob.tag);
    EXPECT_EQ(alice.tag.size(), 4u);
    EXPECT_NE(alice.tag, "----");

    const std::string first = protect(alice, "db-password", 3);
    const std::string second = protect(alice, "", 4);
    EXPECT_EQ(first.substr(0, 4), alice.tag);
    EXPECT_EQ(second.substr(0, 4), alice.tag);
    EXPECT_TRUE(keyFitsValue(alice, first));
    EXPECT_EQ(revealValue(again, second), "");
    EXPECT_FALSE(keyFitsValue(bob, first));

    // Another key under the right tag: the tag agrees, the padding does not.
    ValueKey impostor = bob;
    impostor.tag = alice.tag;
    EXPECT_FALSE(keyFitsValue(impostor, first));
    EXPECT_FALSE(keyFitsValue(programValueKey(), first));
}

} // namespace
} // namespace talve
