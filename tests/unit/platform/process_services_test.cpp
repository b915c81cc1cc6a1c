#include "unit/support/context_bench.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace talve {
namespace {

using test::ContextBench;
using test::FakePlatform;

const std::string failedLine = "ERROR \t: Process failed to execute successfully. Return code was : 1";

TEST(ExecuteCommand, FailsOnlyWhenTheAdjustedReturnCodeIsOne) {
    struct Case {
        bool started;
        int childCode;
        bool success;
        int lastResult;
    };
    const Case cases[] = {
        {true, 0, true, 0},    {true, 2, true, 2},     {true, 3, true, 3},   {true, 255, true, 255},
        {true, 1, false, 1},   {true, 256, false, 1},  {true, 512, true, 2}, {false, 0, false, 1},
    };
    for (const Case& c : cases) {
        ContextBench bench;
        bench.platform.queueOutcome(c.started, c.childCode);
        EXPECT_EQ(bench.context.executeCommand("\"setup.exe\" -o", false), c.success) << c.childCode;
        EXPECT_EQ(bench.context.lastResult, c.lastResult) << c.childCode;
        const std::string named = c.started ? "ERROR \t: The program that failed is setup.exe."
                                            : "ERROR \t: The program setup.exe could not be started.";
        const std::vector<std::string> expected =
            c.success ? std::vector<std::string>{} : std::vector<std::string>{failedLine, named};
        EXPECT_EQ(bench.log.errors(), expected) << c.childCode;
    }

    // Named without its folder, whichever separator the folder has.
    for (const char* command : {"\"/tmp/T 1/_jvm/bin/java\" -jar setup.jar", "C:\\T\\_jvm\\bin\\java -jar x"}) {
        ContextBench bench;
        bench.platform.queueOutcome(true, 1);
        bench.context.executeCommand(command, false);
        EXPECT_TRUE(bench.log.has("ERROR \t: The program that failed is java.")) << command;
    }

    ContextBench bench;
    bench.platform.queueOutcome(false, 0);
    bench.context.executeCommand("missing.exe", false);
    EXPECT_TRUE(bench.log.has("INFO \t: Executing command  : missing.exe"));
    EXPECT_TRUE(bench.log.has("DEBUG \t: Failed to execute command : missing.exe"));
}

TEST(ExecuteCommand, DiscardsChildOutputOnlyOutsideConsoleMode) {
    ContextBench quiet;
    EXPECT_FALSE(quiet.context.consoleMode);
    quiet.context.executeCommand("a", true);
    quiet.context.hideSystem("b", false, false);
    ASSERT_EQ(quiet.platform.processCalls.size(), 2u);
    EXPECT_EQ(quiet.platform.processCalls[0].commandLine, "a");
    EXPECT_TRUE(quiet.platform.processCalls[0].detach);
    EXPECT_TRUE(quiet.platform.processCalls[0].discardOutput);
    EXPECT_FALSE(quiet.platform.processCalls[1].detach);
    EXPECT_FALSE(quiet.platform.processCalls[1].discardOutput);

    ContextBench console;
    console.context.consoleMode = true;
    console.context.executeCommand("a", false);
    EXPECT_FALSE(console.platform.processCalls.at(0).discardOutput);
}

TEST(BootstrapContext, ConsoleModeFollowsThePresenceOfKorvuConsoleDebug) {
    EXPECT_FALSE(ContextBench(FakePlatform::Style::Windows, {{"KORVU_CONSOLE", "1"}}).context.consoleMode);
    EXPECT_TRUE(ContextBench(FakePlatform::Style::Windows, {{"KORVU_CONSOLE_DEBUG", ""}}).context.consoleMode);
    EXPECT_TRUE(ContextBench(FakePlatform::Style::Windows, {{"KORVU_CONSOLE_DEBUG", "0"}}).context.consoleMode);
}

TEST(GetAbsolutePath, JoinsRelativePathsToTheCurrentDirectoryByWindowsRules) {
    ContextBench bench(FakePlatform::Style::Windows);
    bench.platform.currentDir = "C:\\dir";
    BootstrapContext& context = bench.context;
    EXPECT_EQ(context.getAbsolutePath("C:\\x"), "C:\\x");
    EXPECT_EQ(context.getAbsolutePath("\\x"), "\\x");
    EXPECT_EQ(context.getAbsolutePath(""), "");
    EXPECT_EQ(context.getAbsolutePath("d:"), "d:");
    EXPECT_EQ(context.getAbsolutePath("x"), "C:\\dir\\x");
    EXPECT_EQ(context.getAbsolutePath("a:b"), "a:b");
    EXPECT_EQ(context.getAbsolutePath("ab:c"), "C:\\dir\\ab:c");
    EXPECT_EQ(context.getAbsolutePath(":x"), "C:\\dir\\:x");
    EXPECT_EQ(context.getAbsolutePath("/tmp/"), "C:\\dir\\/tmp/");
    EXPECT_TRUE(bench.log.has("DEBUG \t: In getAbsolutePath method."));
}

TEST(GetAbsolutePath, JoinsRelativePathsToTheCurrentDirectoryByPosixRules) {
    ContextBench bench(FakePlatform::Style::Posix);
    bench.platform.currentDir = "/home/u";
    BootstrapContext& context = bench.context;
    EXPECT_EQ(context.getAbsolutePath("/tmp/"), "/tmp/");
    EXPECT_EQ(context.getAbsolutePath(""), "");
    EXPECT_EQ(context.getAbsolutePath("answers.properties"), "/home/u/answers.properties");
    EXPECT_EQ(context.getAbsolutePath("C:\\x"), "/home/u/C:\\x");
    // A current directory that cannot be read leaves the path as given.
    bench.platform.currentDir.reset();
    EXPECT_EQ(context.getAbsolutePath("x"), "x");
}

TEST(GetDiskSpace, GivesWholeMebibytesOrMinusOne) {
    ContextBench bench;
    BootstrapContext& context = bench.context;
    EXPECT_EQ(context.getDiskSpace("C:\\Temp"), -1);
    EXPECT_EQ(bench.platform.freeSpaceQueries, std::vector<std::string>{"C:\\Temp"});
    bench.platform.freeBytes = (std::uint64_t{100} << 20) + (1 << 20) - 1;
    EXPECT_EQ(context.getDiskSpace("C:\\Temp"), 100);
    bench.platform.freeBytes = (1 << 20) - 1;
    EXPECT_EQ(context.getDiskSpace("C:\\Temp"), 0);
    // 3 TiB fits in 32 bits once counted in megabytes; 2^31 MiB and more would
    // wrap negative and pass for a failure.
    bench.platform.freeBytes = std::uint64_t{3} << 40;
    EXPECT_EQ(context.getDiskSpace("C:\\Temp"), 3 << 20);
    bench.platform.freeBytes = std::uint64_t{1} << 51;
    EXPECT_EQ(context.getDiskSpace("C:\\Temp"), INT32_MAX);
}

TEST(SetEnvironmentVariable, HandsOverTheWholeAssignmentAndLogsIt) {
    ContextBench bench;
    bench.platform.environment["OLD"] = "1";
    BootstrapContext& context = bench.context;
    EXPECT_TRUE(context.setEnvironmentVariable("KORVU_BOOTSTRAP_TEMP=C:\\Temp\\TALVE_TEMP_1"));
    EXPECT_TRUE(context.setEnvironmentVariable("OLD="));
    EXPECT_EQ(context.lastResult, 0);
    EXPECT_EQ(bench.platform.environment.at("KORVU_BOOTSTRAP_TEMP"), "C:\\Temp\\TALVE_TEMP_1");
    EXPECT_EQ(bench.platform.environment.count("OLD"), 0u);
    EXPECT_TRUE(
        bench.log.has("INFO \t: Setting the following environment variable : KORVU_BOOTSTRAP_TEMP=C:\\Temp\\TALVE_TEMP_1"));
    EXPECT_TRUE(bench.log.has("INFO \t: Setting the following environment variable : OLD="));

    EXPECT_FALSE(context.setEnvironmentVariable("no assignment"));
    EXPECT_NE(context.lastResult, 0);
}

TEST(Reboot, IsNotAttemptedWithoutTheShutdownRight) {
    const std::string refused = "ERROR \t: Failed to set privilege SE_SHUTDOWN_NAME. Reboot will not be performed.";
    for (ShutdownRight right : {ShutdownRight{false, true}, ShutdownRight{true, false}, ShutdownRight{false, false}}) {
        ContextBench bench;
        bench.platform.shutdownRight = right;
        bench.context.reboot();
        EXPECT_EQ(bench.platform.restartRequests, 0);
        EXPECT_EQ(bench.log.errors(), std::vector<std::string>{refused});
        EXPECT_EQ(bench.log.has("DEBUG \t: Failed to open process token. Privilege has not been set."),
                  !right.tokenOpened);
        EXPECT_EQ(bench.log.has("DEBUG \t: Failed to look-up privilege value for privilege SE_SHUTDOWN_NAME. "
                                "Privilege has not been set."),
                  !right.privilegeFound);
    }

    ContextBench allowed;
    allowed.platform.shutdownRight = ShutdownRight{true, true};
    allowed.context.reboot();
    EXPECT_EQ(allowed.platform.restartRequests, 1);
    EXPECT_TRUE(allowed.log.has("INFO \t: Initiating reboot. Please wait. . ."));
    EXPECT_TRUE(allowed.log.errors().empty());
}

} // namespace
} // namespace talve
