#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace talve {
namespace {

// The real system platform, with real children: the error output of a
// program whose output is otherwise thrown away.
class KeepingErrors : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    std::string errors = "stale";
};

TEST_F(KeepingErrors, HandsBackStandardErrorAloneWithTheExitCode) {
    ProcessOutcome outcome =
        platform->runProcessKeepingErrors("/bin/sh -c \"echo to-output; echo why >&2; exit 3\"", 1000, errors);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(errors, "why\n");
}

TEST_F(KeepingErrors, ReadsAFloodToTheEndButKeepsOnlyItsStart) {
    // Far beyond a pipe's buffer: a child left unread would block for ever.
    ProcessOutcome outcome = platform->runProcessKeepingErrors(
        "/bin/sh -c \"printf start; head -c 2000000 /dev/zero >&2; exit 0\" ", 100, errors);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(errors, std::string(100, '\0'));
}

TEST_F(KeepingErrors, AProgramThatCannotStartIsNoCompletedRun) {
    EXPECT_FALSE(platform->runProcessKeepingErrors("talve-no-such-program x", 100, errors).completed);
    EXPECT_EQ(errors, "");
}

// A helper that a child left behind, named by the process id it wrote into a
// file; the test ends it if the launcher did not, since the test started it.
class LeftBehind {
public:
    LeftBehind() : file_(std::string(::testing::TempDir()) + "talve-helper-" + std::to_string(getpid())) {
        std::remove(file_.c_str());
    }
    ~LeftBehind() {
        if (pid_ > 0 && running()) kill(pid_, SIGKILL);
        std::remove(file_.c_str());
    }
    const std::string& file() const { return file_; }
    // Waits a little for the file, since the helper may write it late.
    pid_t pid() {
        for (int i = 0; i < 100 && pid_ <= 0; ++i) {
            std::ifstream(file_) >> pid_;
            if (pid_ <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return pid_;
    }
    // Still running: neither gone nor a zombie waiting for its parent.
    bool running() {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string id, name, state;
        return stat >> id >> name >> state && state != "Z" && state != "X";
    }
    bool endsWithin(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return !running();
    }

private:
    std::string file_;
    pid_t pid_ = 0;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The program ends while a helper it started still holds standard error:
// the run ends with the program, not with the helper.
TEST_F(KeepingErrors, EndsWithTheProgramWhileAHelperStillHoldsThePipe) {
    LeftBehind helper;
    const auto start = std::chrono::steady_clock::now();
    ProcessOutcome outcome = platform->runProcessKeepingErrors(
        "/bin/sh -c \"sleep 30 & echo $! > '" + helper.file() + "'; echo why >&2; exit 3\"", 1000, errors);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(errors, "why\n");
    ASSERT_GT(helper.pid(), 0);
    EXPECT_TRUE(helper.running()) << "an ordinary end leaves what the program started alone";
}

TEST(TimeLimit, AProgramStillRunningAtItsLimitIsStoppedWithWhatItStarted) {
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    LeftBehind helper;
    const auto start = std::chrono::steady_clock::now();
    ProcessOutcome outcome = platform->runProcessWithin(
        "/bin/sh -c \"sleep 30 & echo $! > '" + helper.file() + "'; wait\"", true, std::chrono::milliseconds(500));
    const double took = secondsSince(start);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_FALSE(outcome.completed);
    EXPECT_GE(took, 0.5);
    EXPECT_LT(took, 3.0);
    ASSERT_GT(helper.pid(), 0);
    EXPECT_TRUE(helper.endsWithin(std::chrono::seconds(2)));

    ProcessOutcome quick = platform->runProcessWithin("/bin/sh -c \"exit 7\"", true, std::chrono::seconds(30));
    EXPECT_TRUE(quick.completed);
    EXPECT_FALSE(quick.timedOut);
    EXPECT_EQ(quick.exitCode, 7);
}

} // namespace
} // namespace talve
