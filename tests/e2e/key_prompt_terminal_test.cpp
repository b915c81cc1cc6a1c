// The masked key prompt on a real terminal: a pseudo-terminal opened by the
// test stands in for the user's console. Linux only: Wine cannot drive a
// Windows console from a pseudo-terminal.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace e2e {
namespace {

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// A launcher whose standard input, output and error are the terminal's
// other side; the test types on the master side and reads what it shows.
class TerminalRun {
public:
    TerminalRun(const std::vector<std::string>& argv, const Environment& environment, const fs::path& directory) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const std::string slaveName = ptsname(master_);
        // Held open by the test as well, so the settings can be read after the run.
        slave_ = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        if (slave_ < 0 || tcgetattr(slave_, &before_) != 0) return;

        SpawnArrays arrays(argv, environment);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_adddup2(&actions, slave_, fd);
        posix_spawn_file_actions_addclose(&actions, master_);
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
        // A process group of its own, with its parent (the test) outside it,
        // as a shell's job: the system discards a stop sent to an orphaned group.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&pid_, arrays.argv()[0], &actions, &attributes, arrays.argv(), arrays.envp()) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TerminalRun() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    bool started() const { return pid_ > 0; }

    // Reads what the terminal shows until text appears after what was seen so far.
    bool waitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            const std::size_t found = shown_.find(text, seen_);
            if (found != std::string::npos) {
                seen_ = found + text.size();
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) return false;
            readSome(200);
        }
    }
    void type(const std::string& keys) { EXPECT_EQ(write(master_, keys.data(), keys.size()), (ssize_t)keys.size()); }
    void signal(int number) { kill(pid_, number); }
    bool waitUntilStopped() {
        int status = 0;
        return waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
    }
    // The launcher switches the terminal on its own time after a continue.
    bool waitUntilRaw() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            termios now{};
            if (tcgetattr(slave_, &now) == 0 && (now.c_lflag & ECHO) == 0) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            usleep(10000);
        }
    }

    // The exit code, or 128 + the signal; the terminal's output read to the end.
    int finish() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0) {
        }
        pid_ = -1;
        while (readSome(100)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    bool settingsAsBefore() const {
        termios after{};
        return tcgetattr(slave_, &after) == 0 && sameSettings(before_, after);
    }
    const std::string& shown() const { return shown_; }

private:
    bool readSome(int milliseconds) {
        pollfd poller{master_, POLLIN, 0};
        if (poll(&poller, 1, milliseconds) <= 0) return false;
        char buffer[4096];
        const ssize_t got = read(master_, buffer, sizeof buffer);
        if (got <= 0) return false;
        shown_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    termios before_{};
    std::string shown_;
    std::size_t seen_ = 0;
};

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
