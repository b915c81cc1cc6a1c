#include "payload/bootstrap_table_format.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace talve {
namespace {

using test::ContextBench;
using test::FakePlatform;
using Lines = std::vector<std::string>;

// The plain pass on a POSIX-style fake whose current directory is /work.
struct PlainPass {
    explicit PlainPass(std::vector<std::string> arguments) : arguments(std::move(arguments)) {}

    bool run() {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        return bench.context.processArguments(static_cast<int>(arguments.size()), argv.data());
    }
    std::string variable(const std::string& name) const {
        auto found = bench.platform.environment.find(name);
        return found == bench.platform.environment.end() ? "<unset>" : found->second;
    }

    std::vector<std::string> arguments;
    ContextBench bench{FakePlatform::Style::Posix};
    BootstrapContext& context = bench.context;
};

TEST(PlainPass, WithoutOptionsExportsOnlyTheProgramPath) {
    PlainPass pass({"./setup"});
    EXPECT_TRUE(pass.run());
    EXPECT_EQ(pass.bench.platform.assignments, (Lines{"KORVU_BOOTSTRAP_ARGC=1", "KORVU_BOOTSTRAP_ARGV00=./setup"}));
    const BootstrapContext& c = pass.context;
    EXPECT_FALSE(c.consoleMode || c.silentMode || c.multipleInstances || c.javaHomeGiven || c.locationGiven ||
                 c.keyRequested || c.keyValueGiven);
    EXPECT_TRUE(c.splashEnabled);
    EXPECT_EQ(c.tempDirOption + c.javaHome + c.javaArgs + c.location + c.keyValue + c.recordFile, "");
}

TEST(PlainPass, AppliesEveryOptionAndStillExportsEveryArgument) {
    PlainPass pass({"./setup", "-console", "-multipleInstance", "-noSplashScreen", "-tempdir", "T", "-location", "L",
                    "-javaHome", "jre", "-javaArgs", "-Xmx1g", "-key", "k", "-silent", "s.properties", "-record",
                    "r.properties"});
    EXPECT_TRUE(pass.run());
    const BootstrapContext& c = pass.context;
    EXPECT_TRUE(c.consoleMode && c.multipleInstances && c.silentMode && c.keyRequested && c.keyValueGiven);
    EXPECT_FALSE(c.splashEnabled);
    EXPECT_EQ(c.tempDirOption, "T");
    EXPECT_TRUE(c.locationGiven);
    EXPECT_EQ(c.location, "/work/L");
    EXPECT_TRUE(c.javaHomeGiven);
    EXPECT_EQ(c.javaHome, "/work/jre");
    EXPECT_EQ(c.javaArgs, "-Xmx1g");
    EXPECT_EQ(c.keyValue, "k");
    EXPECT_EQ(c.recordFile, "r.properties");
    EXPECT_EQ(pass.variable("TALVE_SILENT_PROPERTIES"), "/work/s.properties");
    EXPECT_EQ(pass.variable("TALVE_RECORD_FILE"), "/work/r.properties");
    EXPECT_EQ(pass.variable("KORVU_BOOTSTRAP_ARGC"), "18");
    EXPECT_EQ(pass.variable("KORVU_BOOTSTRAP_ARGV05"), "T");
    EXPECT_EQ(pass.variable("KORVU_BOOTSTRAP_ARGV17"), "r.properties");
}

TEST(PlainPass, SilentAndKeyTakeOnlyAValueThatIsNoOption) {
    for (const Lines& tail : {Lines{}, Lines{""}, Lines{"-console"}}) {
        Lines arguments{"./setup", "-silent"};
        arguments.insert(arguments.end(), tail.begin(), tail.end());
        PlainPass pass(arguments);
        pass.run();
        EXPECT_TRUE(pass.context.silentMode);
        EXPECT_EQ(pass.variable("TALVE_SILENT_PROPERTIES"), "<unset>");
        EXPECT_EQ(pass.context.consoleMode, tail == Lines{"-console"});
    }

    PlainPass key({"./setup", "-key", "-silent"});
    key.run();
    EXPECT_TRUE(key.context.keyRequested);
    EXPECT_FALSE(key.context.keyValueGiven);
    EXPECT_EQ(key.context.keyValue, "");

    PlainPass tempdir({"./setup", "-tempdir", "-console"});
    tempdir.run();
    EXPECT_EQ(tempdir.context.tempDirOption, "");
    EXPECT_TRUE(tempdir.context.consoleMode);
}

TEST(PlainPass, RecordAndJavaArgsTakeWhateverFollows) {
    PlainPass record({"./setup", "-record", "-x"});
    record.run();
    EXPECT_EQ(record.context.recordFile, "-x");
    EXPECT_EQ(record.variable("TALVE_RECORD_FILE"), "/work/-x");

    PlainPass javaArgs({"./setup", "-javaArgs", "-console"});
    javaArgs.run();
    EXPECT_EQ(javaArgs.context.javaArgs, "-console");
    EXPECT_TRUE(javaArgs.context.consoleMode);

    PlainPass last({"./setup", "-javaArgs"});
    EXPECT_TRUE(last.run());
    EXPECT_EQ(last.context.javaArgs, "");
    EXPECT_TRUE(last.bench.log.errors().empty());
}

TEST(PlainPass, LaterOccurrencesWinAndLetterCaseMatters) {
    PlainPass twice({"./setup", "-tempdir", "a", "-tempdir", "b", "-silent", "one", "-silent", "two"});
    twice.run();
    EXPECT_EQ(twice.context.tempDirOption, "b");
    EXPECT_EQ(twice.variable("TALVE_SILENT_PROPERTIES"), "/work/two");

    PlainPass upper({"./setup", "-Console", "-SILENT", "x", "-H", "-Help", "-Record"});
    EXPECT_TRUE(upper.run());
    EXPECT_FALSE(upper.context.consoleMode || upper.context.silentMode);
    EXPECT_EQ(upper.context.recordFile, "");
    EXPECT_EQ(upper.variable("KORVU_BOOTSTRAP_ARGC"), "7");
    EXPECT_EQ(upper.variable("KORVU_BOOTSTRAP_ARGV06"), "-Record");
}

TEST(PlainPass, CutsEachAssignmentTo1001CharactersAndNumbersBeyond99) {
    std::vector<std::string> arguments{"./setup", std::string(1200, 'a')};
    for (int i = 2; i <= 100; ++i) arguments.push_back("arg" + std::to_string(i));
    PlainPass pass(arguments);
    pass.run();
    const Lines& assignments = pass.bench.platform.assignments;
    ASSERT_EQ(assignments.size(), 102u);
    EXPECT_EQ(assignments[0], "KORVU_BOOTSTRAP_ARGC=101");
    EXPECT_EQ(assignments[2].size(), 1001u);
    EXPECT_EQ(assignments[2], "KORVU_BOOTSTRAP_ARGV01=" + std::string(1001 - 23, 'a'));
    EXPECT_EQ(pass.variable("KORVU_BOOTSTRAP_ARGV09"), "arg9");
    EXPECT_EQ(pass.variable("KORVU_BOOTSTRAP_ARGV99"), "arg99");
    EXPECT_EQ(assignments.back(), "KORVU_BOOTSTRAP_ARGV100=arg100");
}

TEST(PlainPassDeathTest, HelpAndATrailingRecordShowTheUsageAndExitWithOne) {
    test::ScratchDirectory scratch;
    test::InstallerBuilder installer;
    installer.payload(table::usageEntry, "USAGE : ./setup [-console]\n", "usage.txt");
    installer.write(scratch.file("setup"));
    for (const Lines& arguments : {Lines{"./setup", "-record"}, Lines{"./setup", "-h"}, Lines{"./setup", "-help", "x"}}) {
        PlainPass pass(arguments);
        pass.bench.platform.executable = scratch.file("setup");
        const std::string shown = scratch.file("stdout");
        EXPECT_EXIT(
            {
                std::freopen(shown.c_str(), "w", stdout);
                pass.run();
            },
            ::testing::ExitedWithCode(1), "");
        EXPECT_EQ(test::readFile(shown), "USAGE : ./setup [-console]\n");
    }
}

} // namespace
} // namespace talve
