#include "crypto/protected_value.h"
#include "silent/silent_file.h"
#include "unit/support/context_bench.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

using test::ContextBench;
using test::FakePlatform;

const std::string aliceKey = "Alice2024key";
const std::string bobKey = "Bob2024keyXY";

// Derivations are slow on purpose: each key is derived once for all tests.
const crypto::ValueKey& derived(const std::string& keyText) {
    static const crypto::ValueKey alice = *crypto::userValueKey(aliceKey);
    static const crypto::ValueKey bob = *crypto::userValueKey(bobKey);
    return keyText == aliceKey ? alice : bob;
}

std::string protectedWith(const crypto::ValueKey& key, const std::string& text) {
    static std::uint8_t seed = 0;
    crypto::IV iv;
    iv.fill(++seed);
    std::string value;
    EXPECT_EQ(crypto::protectValue(key, text, iv, value), 0);
    return value;
}

class SilentFile : public ::testing::Test {
protected:
    ContextBench bench{FakePlatform::Style::Posix};
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("answers.properties");
    const std::string alice1 = protectedWith(derived(aliceKey), "first");
    const std::string alice2 = protectedWith(derived(aliceKey), "second");
    const std::string bob1 = protectedWith(derived(bobKey), "third");
    const std::string program1 = protectedWith(crypto::programValueKey(), "fourth");

    int read(const std::string& content, const std::string& key = "") {
        test::writeFile(path, content);
        bench.context.keyValue = key;
        return readSilentFile(bench.context, path);
    }
    std::vector<std::string> errors() const { return bench.log.errors(); }
};

TEST_F(SilentFile, ReadsPlainAndProgramProtectedAnswersWithoutAKey) {
    EXPECT_EQ(read("# answers\n\n   \nno equals sign\n  name =  value  \n"
                   "secret.encrypted=\nother.encrypted = " + program1 + "\n"),
              silentFileWithoutKey);
    EXPECT_TRUE(errors().empty());
    EXPECT_TRUE(bench.log.has("DEBUG \t: checking duplicates for key : name"));
    EXPECT_TRUE(bench.log.has("DEBUG \t: checking duplicates for key : secret"));
    EXPECT_TRUE(bench.log.has("DEBUG \t: checking duplicates for key : other"));
}

TEST_F(SilentFile, TellsAMissingFileFromNoneNamed) {
    EXPECT_EQ(readSilentFile(bench.context, ""), silentFileMissing);
    EXPECT_EQ(readSilentFile(bench.context, scratch.file("absent")), silentFileMissing);
    EXPECT_EQ(readSilentFile(bench.context, scratch.path()), silentFileMissing);
}

TEST_F(SilentFile, HoldsTheFirstKeyTagAndRefusesAnother) {
    EXPECT_EQ(read("a.encrypted=" + alice1 + "\nb.encrypted=" + program1 + "\nc.encrypted=" + alice2 + "\n"),
              silentFileWithKey);
    EXPECT_EQ(read("a.encrypted=" + alice1 + "\nb.encrypted=" + bob1 + "\n"), silentFileMixedKeys);
    // The message ends in a line feed of its own, as the installer's documentation shows it.
    EXPECT_EQ(errors(), (std::vector<std::string>{"ERROR \t: Key for property [b.encrypted] does not match the one "
                                                  "used for property [a.encrypted]",
                                                  ""}));
}

TEST_F(SilentFile, RefusesMalformedValuesWithTheirMessage) {
    const std::string nineteen = alice1.substr(0, 19);
    EXPECT_EQ(read("pass.encrypted=" + nineteen + "\n"), silentFileValueTooShort);
    EXPECT_EQ(errors().back(), "ERROR \t: Incorrect value for property [pass.encrypted] : [" + nineteen +
                                   "] is too short.");
    std::string badCheck = alice1;
    badCheck.back() = badCheck.back() == 'q' ? '7' : 'q';
    EXPECT_EQ(read("pass.encrypted=" + badCheck + "\n"), silentFileBadCheckCharacter);
    EXPECT_EQ(errors().back(), "ERROR \t: Incorrect value for property [pass.encrypted] : [" + badCheck + "].");
    // Values under the program's key are checked for their form too.
    std::string badProgram = program1;
    badProgram.back() = badProgram.back() == 'q' ? '7' : 'q';
    EXPECT_EQ(read("pass.encrypted=" + badProgram + "\n"), silentFileBadCheckCharacter);
}

TEST_F(SilentFile, TestsTheKeyAtHandOnTheFirstKeyBearingValue) {
    EXPECT_EQ(read("x=1\na.encrypted=" + alice1 + "\n", aliceKey), silentFileWithKey);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(read("a.encrypted=" + alice1 + "\n", bobKey), silentFileWrongKey);
    EXPECT_EQ(errors().back(), "ERROR \t: Incorrect key.");
}

TEST_F(SilentFile, FindsAPropertyGivenTwiceAlsoAsItsEncryptedForm) {
    for (const std::string content : {"a=1\nb=2\na=3\n", "a=1\na.encrypted=\n", "a.encrypted=\na=1\n"}) {
        EXPECT_EQ(read(content), silentFileDuplicate) << content;
        EXPECT_EQ(errors().back(), "ERROR \t: Duplicates keys [a] were found in the silent file");
    }
}

TEST_F(SilentFile, SkipsALineTooLongForTheReaderWhole) {
    // Cut into pieces, the tail of a long comment would pass for a property.
    const std::string longComment = "#" + std::string(8300, 'x') + "a=again\n";
    EXPECT_EQ(read("a=1\n" + longComment), silentFileWithoutKey);
}

// Windows files end their lines in CR LF; the CR counts towards the limit
// there too, so that a file means the same to every launcher and the library.
TEST(SilentFileLineLimit, CountsTheCarriageReturnOnEverySystem) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("answers.properties");
    for (const FakePlatform::Style style : {FakePlatform::Style::Posix, FakePlatform::Style::Windows}) {
        ContextBench bench{style};
        // 8,192 bytes with the CR and the line feed: left out whole.
        test::writeFile(path, "a=1\r\na=" + std::string(8188, 'x') + "\r\n");
        EXPECT_EQ(readSilentFile(bench.context, path), silentFileWithoutKey);
        // One byte less: read, so a is there twice.
        test::writeFile(path, "a=1\r\na=" + std::string(8187, 'x') + "\r\n");
        EXPECT_EQ(readSilentFile(bench.context, path), silentFileDuplicate);
    }
}

} // namespace
} // namespace talve
