#include "platform/platform.h"
#include "unit/support/context_bench.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace talve {
namespace {

using test::ContextBench;
using test::FakePlatform;
using Lines = std::vector<std::string>;

// The arguments reach the environment in one step, and the log still shows
// each of them in its place among the options' own exports.
TEST(ArgumentExport, PutsAllArgumentsAtOnceAndLogsEachInItsPlace) {
    ContextBench bench(FakePlatform::Style::Posix);
    std::vector<std::string> arguments{"./setup", "-silent", "answers.txt"};
    for (int i = 3; i < 101; ++i) arguments.push_back("a" + std::to_string(i));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    ASSERT_TRUE(bench.context.processArguments(static_cast<int>(argv.size()), argv.data()));

    EXPECT_EQ(bench.platform.bulkEnvironmentCalls, 1);
    EXPECT_EQ(bench.platform.environment.at("KORVU_BOOTSTRAP_ARGV100"), "a100");
    EXPECT_EQ(bench.platform.environment.at("KORVU_BOOTSTRAP_ARGV01"), "-silent");
    const Lines& lines = bench.log.lines();
    const auto at = [&](const std::string& text) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == "INFO \t: Setting the following environment variable : " + text) return i;
        return lines.size();
    };
    EXPECT_LT(at("KORVU_BOOTSTRAP_ARGV01=-silent"), at("TALVE_SILENT_PROPERTIES=/work/answers.txt"));
    EXPECT_LT(at("TALVE_SILENT_PROPERTIES=/work/answers.txt"), at("KORVU_BOOTSTRAP_ARGV02=answers.txt"));
    EXPECT_LT(at("KORVU_BOOTSTRAP_ARGV100=a100"), lines.size());
}

TEST(ArgumentExport, AnEnvironmentNoProgramCanBeStartedWithIsRefused) {
    struct Case {
        StartRoom room;
        std::string javaArgs;
        bool fits;
    };
    const Case cases[] = {
        {{100000, 0}, "", true},                      // no limit on this system
        {{100000, 2 * 1024 * 1024}, "", true},
        {{2 * 1024 * 1024 - 16 * 1024, 2 * 1024 * 1024}, "", true},
        {{2 * 1024 * 1024 - 16 * 1024 + 1, 2 * 1024 * 1024}, "", false},
        {{2 * 1024 * 1024 - 16 * 1024, 2 * 1024 * 1024}, "-Xmx1g", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room.environmentBytes);
        ContextBench bench(FakePlatform::Style::Posix);
        bench.platform.room = c.room;
        bench.context.javaArgs = c.javaArgs;
        EXPECT_EQ(bench.context.exportFitsPrograms(70001), c.fits);
        if (c.fits) {
            EXPECT_TRUE(bench.log.errors().empty());
            continue;
        }
        EXPECT_EQ(bench.log.errors(),
                  Lines{"ERROR \t: The command line is too long to be handed to the installer: its 70001 arguments "
                        "make an environment of " + std::to_string(c.room.environmentBytes) +
                        " bytes, and this system starts a program with at most 2097152 bytes of environment and "
                        "arguments together."});
    }
}

// The system's environment, rebuilt at once: new, replaced and removed
// variables, and the C library still able to change it afterwards.
TEST(PutEnvironmentAll, SetsReplacesAndRemovesInTheProcessEnvironment) {
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    ::setenv("TALVE_TEST_REPLACED", "old", 1);
    ::setenv("TALVE_TEST_REMOVED", "old", 1);
    const StartRoom before = platform->startRoom();
    EXPECT_EQ(platform->putEnvironmentAll({"TALVE_TEST_NEW=1", "TALVE_TEST_REPLACED=new", "TALVE_TEST_REMOVED=",
                                           "TALVE_TEST_NEW=2", "=nameless"}),
              -1);
    EXPECT_STREQ(std::getenv("TALVE_TEST_NEW"), "2");
    EXPECT_STREQ(std::getenv("TALVE_TEST_REPLACED"), "new");
    EXPECT_EQ(std::getenv("TALVE_TEST_REMOVED"), nullptr);
    // One variable in, one out: the pointers cancel, the texts (with their NULs) count.
    EXPECT_EQ(platform->startRoom().environmentBytes,
              before.environmentBytes + sizeof "TALVE_TEST_NEW=2" - sizeof "TALVE_TEST_REMOVED=old");
    ASSERT_EQ(::setenv("TALVE_TEST_AFTER", "x", 1), 0);
    EXPECT_STREQ(std::getenv("TALVE_TEST_AFTER"), "x");
    EXPECT_STREQ(std::getenv("TALVE_TEST_NEW"), "2");
    for (const char* name : {"TALVE_TEST_NEW", "TALVE_TEST_REPLACED", "TALVE_TEST_AFTER"}) ::unsetenv(name);
}

} // namespace
} // namespace talve
