#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace
} // namespace talve
