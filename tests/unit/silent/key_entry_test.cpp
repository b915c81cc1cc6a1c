#include "crypto/protected_value.h"
#include "unit/support/context_bench.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace talve {
namespace {

using test::ContextBench;
using test::FakePlatform;

const std::string complexKey = "Alice2024key";

const std::string requirements = "The complexity requirements are as follows: \n"
                                 "\t- The length must be between 8 and 20 characters\n"
                                 "\t- The key must contain at least 1 uppercase, 1 lowercase and 1 number\n"
                                 "\t- The number of occurrences of the same character should not exceed half the "
                                 "length of the key\n\n";

std::string stars(const std::string& typed) { return std::string(typed.size(), '*') + "\n"; }

class KeyEntry : public ::testing::Test {
protected:
    ContextBench bench{FakePlatform::Style::Posix};
    std::string shown;

    bool enter() {
        testing::internal::CaptureStdout();
        const bool accepted = bench.context.enterRecordKey();
        shown = testing::internal::GetCapturedStdout();
        return accepted;
    }
    // The key as the installer jar finds it in KORVU_SILENT_K.
    std::optional<std::string> exportedKey() const {
        for (const std::string& assignment : bench.platform.assignments)
            if (assignment.rfind("KORVU_SILENT_K=", 0) == 0)
                return crypto::revealValue(crypto::programValueKey(), assignment.substr(15));
        return std::nullopt;
    }
};

TEST_F(KeyEntry, TakesAComplexKeyFromTheCommandLineWithoutAsking) {
    bench.context.keyValue = complexKey;
    EXPECT_TRUE(enter());
    EXPECT_EQ(shown, "");
    EXPECT_EQ(bench.platform.keyEntriesBegun, 0);

    EXPECT_TRUE(bench.context.exportRecordKey());
    EXPECT_EQ(exportedKey(), complexKey);
    // Only in protected form: the plain key is nowhere in the environment or the log.
    for (const std::string& assignment : bench.platform.assignments)
        EXPECT_EQ(assignment.find(complexKey), std::string::npos);
    for (const std::string& line : bench.log.lines()) EXPECT_EQ(line.find(complexKey), std::string::npos);
}

TEST_F(KeyEntry, AsksAgainUntilAComplexKeyIsConfirmed) {
    bench.context.keyValue = "weak";
    bench.platform.type("short\r" + complexKey + "\r" + "Other2024key\r" + "\x03" + complexKey + "\r" + complexKey +
                        "\r");
    EXPECT_TRUE(enter());
    EXPECT_EQ(bench.context.keyValue, complexKey);
    EXPECT_EQ(shown, "The entered key does not meet the complexity requirements.\n" + requirements +
                         "\tEnter key: " + stars("short") +
                         "\t -> The entered key does not meet the complexity requirements.\n\n" +
                         "\tEnter key: " + stars(complexKey) + "\tRe-enter key: " + stars("Other2024key") +
                         "\t -> Keys do not match.\n\n" +
                         // Ctrl-C: an empty entry, refused, asked again
                         "\tEnter key: \n" + "\t -> The entered key does not meet the complexity requirements.\n\n" +
                         "\tEnter key: " + stars(complexKey) + "\tRe-enter key: " + stars(complexKey));
    EXPECT_EQ(bench.platform.keyEntriesBegun, bench.platform.keyEntriesEnded);
}

TEST_F(KeyEntry, EndsTheRunWhenTheInputEndsBeforeAKeyIsConfirmed) {
    for (const std::string& input : std::vector<std::string>{"", "weak\n", complexKey + "\n", complexKey + "\nOther2024key\n",
                                                             "\x04", complexKey + "\n\x04"}) {
        ContextBench fresh{FakePlatform::Style::Posix};
        fresh.platform.type(input);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(fresh.context.enterRecordKey()) << input;
        const std::string text = testing::internal::GetCapturedStdout();
        EXPECT_EQ(text.find("A key is needed in order to encrypt recorded properties.\n"), 0u);
        EXPECT_EQ(fresh.log.errors(), std::vector<std::string>{"ERROR \t: The input ended before a key was "
                                                               "accepted and confirmed. The installer will exit."});
    }
}

TEST_F(KeyEntry, ExportsNothingWithoutRandomBytes) {
    bench.context.keyValue = complexKey;
    bench.platform.randomSourceWorks = false;
    EXPECT_FALSE(bench.context.exportRecordKey());
    EXPECT_FALSE(exportedKey());
    EXPECT_EQ(bench.log.errors(), std::vector<std::string>{"ERROR \t: The system gave no random bytes to protect "
                                                           "the key with."});
}

TEST_F(KeyEntry, RefusesAKeyTooLongToReachTheInstallerWhole) {
    // Silent runs take any key; a cut value would never decrypt.
    bench.context.keyValue = std::string(800, 'k');
    EXPECT_FALSE(bench.context.exportRecordKey());
    EXPECT_FALSE(exportedKey());
    bench.context.keyValue = std::string(600, 'k');
    EXPECT_TRUE(bench.context.exportRecordKey());
    EXPECT_EQ(exportedKey(), std::string(600, 'k'));
}

class SilentCheck : public KeyEntry {
protected:
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("answers.properties");
    std::string aliceValue;

    void SetUp() override {
        static const crypto::ValueKey alice = *crypto::userValueKey(complexKey);
        crypto::IV iv{};
        ASSERT_EQ(crypto::protectValue(alice, "db-password", iv, aliceValue), 0);
        bench.context.silentMode = true;
        bench.platform.environment["TALVE_SILENT_PROPERTIES"] = path;
    }
    bool check(const std::string& content) {
        test::writeFile(path, content);
        testing::internal::CaptureStdout();
        const bool goOn = bench.context.checkSilentFile();
        shown = testing::internal::GetCapturedStdout();
        return goOn;
    }
};

TEST_F(SilentCheck, LetsAFileWithoutKeyBearingValuesPassWithoutExport) {
    EXPECT_TRUE(check("a=1\nb.encrypted=\n"));
    EXPECT_FALSE(exportedKey());
    bench.context.silentMode = false;
    EXPECT_FALSE(check("a=1\n"));
}

TEST_F(SilentCheck, ExportsAFittingKeyFromTheCommandLineWithoutAsking) {
    bench.context.keyValue = complexKey;
    EXPECT_TRUE(check("pass.encrypted=" + aliceValue + "\n"));
    EXPECT_EQ(bench.platform.keyEntriesBegun, 0);
    EXPECT_EQ(exportedKey(), complexKey);
}

TEST_F(SilentCheck, RefusesAGivenKeyNoPromptCouldHaveTakenBeforeReadingTheFile) {
    for (const std::string& key : {std::string(201, 'k'), std::string("Alice\t2024key")}) {
        ContextBench fresh{FakePlatform::Style::Posix};
        fresh.context.silentMode = true;
        fresh.platform.environment["TALVE_SILENT_PROPERTIES"] = path;
        fresh.context.keyValue = key;
        test::writeFile(path, "a=1\n");
        EXPECT_FALSE(fresh.context.checkSilentFile());
        ASSERT_EQ(fresh.log.errors().size(), 1u);
        EXPECT_EQ(fresh.log.errors()[0].rfind("ERROR \t: The key given with -key cannot be used: the key ", 0), 0u)
            << fresh.log.errors()[0];
    }
    // A record key with a Tab is refused like any key that breaks the rules: the user is asked for another.
    bench.context.keyValue = "Alice\t2024key";
    bench.platform.type(complexKey + "\r" + complexKey + "\r");
    EXPECT_TRUE(enter());
    EXPECT_EQ(bench.context.keyValue, complexKey);
}

TEST_F(SilentCheck, AsksOnceForTheKeyWhenNoneWasGiven) {
    bench.platform.type(complexKey + "\r");
    EXPECT_TRUE(check("pass.encrypted=" + aliceValue + "\n"));
    EXPECT_EQ(shown, "Some properties are encrypted.\n\tEnter key : " + stars(complexKey));
    EXPECT_EQ(exportedKey(), complexKey);
}

TEST_F(SilentCheck, EndsTheRunOnAWrongOrMissingTypedKey) {
    bench.platform.type("Wrong2024key\r");
    EXPECT_FALSE(check("pass.encrypted=" + aliceValue + "\n"));
    EXPECT_EQ(bench.log.errors(),
              (std::vector<std::string>{"ERROR \t: Incorrect key.", "ERROR \t: A wrong key has been provided."}));
    EXPECT_FALSE(exportedKey());

    ContextBench fresh{FakePlatform::Style::Posix};
    fresh.context.silentMode = true;
    fresh.platform.environment["TALVE_SILENT_PROPERTIES"] = path;
    fresh.platform.type("\x03");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(fresh.context.checkSilentFile());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fresh.log.errors(),
              std::vector<std::string>{"ERROR \t: No key was provided. The installer will exit."});
}

TEST_F(SilentCheck, NamesAMissingFileAndDuplicates) {
    bench.platform.environment["TALVE_SILENT_PROPERTIES"] = scratch.file("absent");
    EXPECT_FALSE(check(""));
    // The message ends in a blank line of its own.
    EXPECT_EQ(bench.log.errors(),
              (std::vector<std::string>{"ERROR \t: The silent file [" + scratch.file("absent") + "] was not found.", ""}));

    // Something that is there but is no file to read keeps that answer,
    // after a line that says what it is.
    const std::string fifo = scratch.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = scratch.file("large.properties");
    test::writeFile(large, "");
    ASSERT_EQ(::truncate(large.c_str(), (16 << 20) + 1), 0);
    const std::vector<std::pair<std::string, std::string>> unreadable{
        {fifo, "is not a regular file and is not read."},
        {"/dev/null", "is not a regular file and is not read."},
        {large, "is larger than 16777216 bytes and is not read."},
    };
    for (const auto& [file, problem] : unreadable) {
        ContextBench other{FakePlatform::Style::Posix};
        other.context.silentMode = true;
        other.platform.environment["TALVE_SILENT_PROPERTIES"] = file;
        EXPECT_FALSE(other.context.checkSilentFile());
        EXPECT_EQ(other.log.errors(), (std::vector<std::string>{"ERROR \t: The file \"" + file + "\" " + problem,
                                                                "ERROR \t: The silent file [" + file + "] was not found.",
                                                                ""}));
    }

    ContextBench unnamed{FakePlatform::Style::Posix};
    unnamed.context.silentMode = true;
    EXPECT_FALSE(unnamed.context.checkSilentFile());
    EXPECT_EQ(unnamed.log.errors(), std::vector<std::string>{"ERROR \t: No silent file was specified."});

    bench.platform.environment["TALVE_SILENT_PROPERTIES"] = path;
    EXPECT_FALSE(check("a=1\na.encrypted=\n"));
    const std::vector<std::string> errors = bench.log.errors();
    ASSERT_GE(errors.size(), 3u);
    EXPECT_EQ(errors[errors.size() - 3], "ERROR \t: Duplicates keys [a] were found in the silent file");
    EXPECT_EQ(errors[errors.size() - 2], "ERROR \t: The provided silent file [" + path + "] contains duplicate keys.");
    EXPECT_EQ(errors.back(), "ERROR \t: Please remove the duplicate keys and launch your installer again.");
}

} // namespace
} // namespace talve
