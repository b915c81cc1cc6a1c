// The masked key prompt on a real terminal: a pseudo-terminal opened by the
// test stands in for the user's console. Linux only: Wine cannot drive a
// Windows console from a pseudo-terminal.

#include "support/harness.h"
#include "support/terminal_run.h"

#include <gtest/gtest.h>

#include <csignal>

namespace e2e {
namespace {

class KeyPromptOnATerminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (target().windows) GTEST_SKIP() << "Wine cannot drive a Windows console from a pseudo-terminal";
    }
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});

    std::unique_ptr<TerminalRun> start(const std::vector<std::string>& arguments) {
        Launch l(scratch);
        std::vector<std::string> argv{installer.string(), "-javaHome", runtime.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        argv.push_back("-multipleInstance");
        return std::make_unique<TerminalRun>(argv, l.environment, scratch.root());
    }
    std::string exportedKey() {
        auto record = readProbeRecord(scratch / "record.txt");
        if (!record) return "(the installer did not run)";
        RunResult decoded = runPack({"decrypt", "--program-key", record->env("KORVU_SILENT_K")});
        return decoded.out.substr(0, decoded.out.find('\n'));
    }
};

TEST_F(KeyPromptOnATerminal, AWeakKeyLeadsToThePromptWhichMasksAndEditsTheKey) {
    auto run = start({"-record", "answers.properties", "-key", "weak"});
    ASSERT_TRUE(run->started());
    ASSERT_TRUE(run->waitFor("The entered key does not meet the complexity requirements."));
    ASSERT_TRUE(run->waitFor("\tEnter key: "));
    // Backspace takes the "z" back; the screen loses its star.
    run->type("Alice2024kez\x7fy\r");
    ASSERT_TRUE(run->waitFor("************\b \b*\r\n\tRe-enter key: "));
    run->type("Mismatch2024\r");
    ASSERT_TRUE(run->waitFor("\t -> Keys do not match."));
    // After a mismatch the first prompt comes again; Ctrl-C there is an empty entry.
    ASSERT_TRUE(run->waitFor("\tEnter key: "));
    run->type("Ali\x03");
    ASSERT_TRUE(run->waitFor("***\r\n\t -> The entered key does not meet the complexity requirements."));
    ASSERT_TRUE(run->waitFor("\tEnter key: "));
    // The 201st key is neither stored nor shown, and the entry is refused aloud.
    run->type(std::string(201, 'k') + "\r");
    ASSERT_TRUE(run->waitFor(std::string(200, '*') +
                             "\r\nThe key is longer than 200 characters; this entry is not taken.\r\n\t -> The entered key"));
    ASSERT_TRUE(run->waitFor("\tEnter key: "));
    run->type("Alice2024key\r");
    ASSERT_TRUE(run->waitFor("\tRe-enter key: "));
    run->type("Alice2024key\r");
    EXPECT_EQ(run->finish(), 0) << run->shown();
    EXPECT_TRUE(run->settingsAsBefore());
    EXPECT_EQ(exportedKey(), "Alice2024key");
}

TEST_F(KeyPromptOnATerminal, ASilentRunAsksForTheKeyAndRefusesAWrongOne) {
    const std::string value = runPack({"encrypt", "--key", "Alice2024key", "answer"}).out;
    scratch.write("answers.properties", "p.encrypted=" + value);
    auto wrong = start({"-silent", "answers.properties"});
    ASSERT_TRUE(wrong->waitFor("Some properties are encrypted.\r\n\tEnter key : "));
    wrong->type("Bob2024keyXY\r");
    EXPECT_EQ(wrong->finish(), 1);
    EXPECT_NE(wrong->shown().find("ERROR \t: A wrong key has been provided."), std::string::npos) << wrong->shown();
    EXPECT_TRUE(wrong->settingsAsBefore());

    auto right = start({"-silent", "answers.properties"});
    ASSERT_TRUE(right->waitFor("\tEnter key : "));
    right->type("Alice2024key\r");
    EXPECT_EQ(right->finish(), 0) << right->shown();
    EXPECT_TRUE(right->settingsAsBefore());
    EXPECT_EQ(exportedKey(), "Alice2024key");
}

TEST_F(KeyPromptOnATerminal, ControlKeysAndArrowsAreNoPartOfTheKeyAndCtrlDEndsTheInput) {
    auto run = start({"-record", "answers.properties", "-key"});
    ASSERT_TRUE(run->waitFor("\tEnter key: "));
    run->type("Abcd\tefgh\x1b[A\x1b[D12\x04\r");
    ASSERT_TRUE(run->waitFor("**********\r\n\tRe-enter key: "));
    run->type("\x04");
    ASSERT_TRUE(run->waitFor("\r\nERROR \t: The input ended before a key was accepted")) << run->shown();
    EXPECT_EQ(run->finish(), 1);
    EXPECT_TRUE(run->settingsAsBefore());
}

TEST_F(KeyPromptOnATerminal, AStoppedPromptGivesTheTerminalBackAndMasksAgainOnceContinued) {
    auto run = start({"-record", "answers.properties", "-key"});
    ASSERT_TRUE(run->waitFor("\tEnter key: "));
    run->type("Alice");
    ASSERT_TRUE(run->waitFor("*****"));
    run->signal(SIGTSTP);
    ASSERT_TRUE(run->waitUntilStopped());
    EXPECT_TRUE(run->settingsAsBefore()) << "stopped with the terminal raw";
    run->signal(SIGCONT);
    ASSERT_TRUE(run->waitUntilRaw());
    run->type("2024key\r");
    ASSERT_TRUE(run->waitFor("*******\r\n\tRe-enter key: "));
    run->type("Alice2024key\r");
    EXPECT_EQ(run->finish(), 0) << run->shown();
    EXPECT_EQ(run->shown().find("2024"), std::string::npos) << "echoed after the continue";
    EXPECT_TRUE(run->settingsAsBefore());
    EXPECT_EQ(exportedKey(), "Alice2024key");
}

TEST_F(KeyPromptOnATerminal, AnInterruptedPromptPutsTheTerminalBack) {
    auto run = start({"-record", "answers.properties", "-key"});
    ASSERT_TRUE(run->waitFor("\tEnter key: "));
    run->type("abc");
    ASSERT_TRUE(run->waitFor("***"));
    run->signal(SIGTERM);
    EXPECT_EQ(run->finish(), 128 + SIGTERM);
    EXPECT_TRUE(run->settingsAsBefore());
}

} // namespace
} // namespace e2e
