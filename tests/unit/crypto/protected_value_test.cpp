#include "crypto/protected_value.h"

#include <gtest/gtest.h>

#include "unit/support/damaged_values.h"
#include "unit/support/value_vectors.h"

#include <cstring>
#include <map>

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

IV ivFromHex(const std::string& hex) {
    IV iv{};
    for (std::size_t i = 0; i < iv.size() && 2 * i + 1 < hex.size(); ++i)
        iv[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return iv;
}

// Derivations are slow on purpose: each key text is derived once per test run.
const ValueKey& keyOf(const std::string& keyText) {
    static std::map<std::string, ValueKey> derived;
    if (keyText.empty()) {
        static const ValueKey program = programValueKey();
        return program;
    }
    auto found = derived.find(keyText);
    if (found == derived.end()) found = derived.emplace(keyText, *userValueKey(keyText)).first;
    return found->second;
}

TEST(ValueVectors, TheDocumentedVectorsAreWhatThisImplementationMakesAndReads) {
    const auto vectors = test::documentedValueVectors(TALVE_VALUE_DOCUMENT);
    ASSERT_EQ(vectors.size(), 5u) << "the vector table of " << TALVE_VALUE_DOCUMENT;
    for (const auto& vector : vectors) {
        const ValueKey& key = keyOf(vector.key);
        std::string value;
        ASSERT_EQ(protectValue(key, vector.text, ivFromHex(vector.ivHex), value), 0);
        EXPECT_EQ(value, vector.value) << vector.key << " / " << vector.text;
        EXPECT_EQ(revealValue(key, vector.value), vector.text);
    }
    // The program's master key as the document states it.
    const std::string master = "\xf2\x1a\x4e\x7a\xa1\xfa\x19\x9a\xb3\xe5\x5c\xbd\xfb\x1c\x17\x32"
                               "\x25\x4c\x02\xaf\x0f\x71\x4c\xae\xfd\xeb\x1e\x04\xd1\x66\xd5\x50";
    KeyBytes masterBytes;
    std::copy(master.begin(), master.end(), masterBytes.begin());
    const ValueKey stated = valueKeyFromMaster(masterBytes, "----");
    EXPECT_EQ(stated.encryptionKey, programValueKey().encryptionKey);
    EXPECT_EQ(stated.authenticationKey, programValueKey().authenticationKey);
}

TEST(ProgramKey, ProtectsAnyTextIntoAWellFormedValueThatComesBack) {
    const ValueKey& key = keyOf("");
    EXPECT_EQ(key.tag, "----");
    const std::string texts[] = {"", "a", "Abcdefg1", std::string(15, 'x'), std::string(16, 'y'),
                                 std::string(17, 'w'), std::string(1000, 'z'), std::string("nul\0byte\xff", 9),
                                 std::string(longestValueText, '\x80')};
    for (const std::string& text : texts) {
        const std::string value = protect(key, text);
        EXPECT_EQ(value.size(), 4 + ((16 + (text.size() / 16 + 1) * 16 + 32) * 4 + 2) / 3 + 1);
        EXPECT_EQ(value.substr(0, 4), "----");
        EXPECT_TRUE(hasValidCheckCharacter(value));
        EXPECT_EQ(value.find_first_of("=:#! \t\\"), std::string::npos) << value;
        EXPECT_EQ(revealValue(key, value), text);
    }
    // The IV makes two protections of one text differ.
    EXPECT_NE(protect(key, "same", 1), protect(key, "same", 2));
}

TEST(ProtectValue, RefusesATextTheFormatCannotHoldAndLeavesTheValueAlone) {
    std::string value = "untouched";
    EXPECT_EQ(protectValue(keyOf(""), std::string(longestValueText + 1, 'x'), ivOf(1), value), valueTextTooLong);
    EXPECT_EQ(value, "untouched");
}

// Every change an editor of the file can make without the key: not one is
// taken for a value, whatever it does to the check character.
TEST(ProtectedValues, NoDamageWithoutTheKeyIsAccepted) {
    struct Sample {
        std::string key, text;
    } samples[] = {{"", ""}, {"", "Alice2024key"}, {"Summer2024db", "db-Secret!"},
                   {"Summer2024db", std::string(40, 'p')}, {"Schl\xc3\xbcssel2024", "Gr\xc3\xbc\xc3\x9f" "e"}};
    std::size_t tried = 0;
    for (const Sample& sample : samples) {
        const ValueKey& key = keyOf(sample.key);
        const std::string value = protect(key, sample.text, 9);
        for (const std::string& damaged : test::damagedValues(value)) {
            ++tried;
            EXPECT_FALSE(revealValue(key, damaged)) << value << " -> " << damaged;
        }
    }
    EXPECT_GT(tried, 50000u);
}

TEST(ProtectedValues, ACipherTextUnderAnotherKeyOrTagIsRefused) {
    const ValueKey& alice = keyOf("Alice2024key");
    const ValueKey& bob = keyOf("Bob2024keyXY");
    const std::string value = protect(alice, "db-password", 3);
    // Bob's MAC key with Alice's tag: the tag agrees, the MAC does not.
    ValueKey impostor = bob;
    impostor.tag = alice.tag;
    EXPECT_FALSE(keyFitsValue(impostor, value));
    // The MAC covers the tag: Alice's keys under another tag make a value
    // that does not pass for one of Alice's once the tag is put back.
    ValueKey retagged = alice;
    retagged.tag = "----";
    const std::string underOtherTag = protect(retagged, "x");
    EXPECT_TRUE(keyFitsValue(retagged, underOtherTag));
    std::string moved = alice.tag + underOtherTag.substr(4);
    moved.back() = checkCharacterFor(moved.substr(0, moved.size() - 1));
    EXPECT_FALSE(keyFitsValue(alice, moved));
    EXPECT_FALSE(keyFitsValue(programValueKey(), value));
}

TEST(UserKey, SharesOneTagPerKeyAndFitsOnlyItsOwnValues) {
    const ValueKey& alice = keyOf("Alice2024key");
    const ValueKey& bob = keyOf("Bob2024keyXY");
    EXPECT_NE(alice.tag, bob.tag);
    EXPECT_EQ(alice.tag.size(), 4u);
    EXPECT_NE(alice.tag, "----");
    EXPECT_NE(alice.encryptionKey, alice.authenticationKey);
    EXPECT_FALSE(userValueKey("")) << "an empty key is no key";

    const std::string first = protect(alice, "db-password", 3);
    const std::string second = protect(alice, "", 4);
    EXPECT_EQ(first.substr(0, 4), alice.tag);
    EXPECT_EQ(second.substr(0, 4), alice.tag);
    EXPECT_TRUE(keyFitsValue(alice, first));
    EXPECT_EQ(revealValue(alice, second), "");
    EXPECT_FALSE(keyFitsValue(bob, first));
}

} // namespace
} // namespace talve
