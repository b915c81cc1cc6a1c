// Installers that carry an argument specification check the command line
// before anything else happens.

#include "support/harness.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

const char* const specification =
    "-javaHome{\r\nType=String\r\n}\r\n"
    "-tempdir{\nType=String\n}\n"
    "-help{\nType=NoValue\n}\n"
    "-console{\nType=NoValue\n}\n"
    "-multipleInstance{\nType=NoValue\n}\n"
    "-mode{\nType=Enumeration\nPossibleValues=full minimal\n}\n"
    "-count{\nType=Integer\nOptional=True\nMinValue=1\nMaxValue=10\n}\n";

class Validation : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    const std::string usage = "USAGE : ./setup -mode full|minimal [-count N]\n";
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "j").string(), "--usage",
                                                 scratch.write("usage.txt", usage).string(), "--args-spec",
                                                 scratch.write("args.spec", specification).string()});
};

TEST_F(Validation, AnAcceptedCommandLineReachesTheInstallerWhole) {
    Launch l(scratch);
    l.arguments({"-mode", "full", "-javaHome", target().path(runtime), "-count", "-console"});
    RunResult result = l.run(installer);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    auto record = readProbeRecord(l.record);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGC"), "8");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV01"), "-mode");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV02"), "full");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV05"), "-count");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV06"), "-console");
    EXPECT_EQ(record->env("KORVU_JVM_LOC"), target().path(runtime) + target().separator);
}

TEST_F(Validation, ARejectedCommandLineShowsTheReasonAndTheUsage) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"-mode", "fast"},
         "The provided value [fast] for parameter [-mode] is not a valid value. One of the following is expected : "
         "[full] [minimal]."},
        {{"-mode", "full", "-count", "11"},
         "The provided value [11] for parameter [-count] is outside of the expected range (between 1 and 10)."},
        {{"-unknown"}, "Unknown argument : [-unknown]"},
        {{"-console", "-console"},
         "Parameter [-console] is present multiple times on the command line. Each paramater can only be used once "
         "in a command line."},
    };
    for (const Case& c : cases) {
        Launch l(scratch);
        l.arguments(c.arguments);
        RunResult result = l.run(installer);
        EXPECT_EQ(result.exitCode, 1) << c.message;
        EXPECT_EQ(result.err, "ERROR \t: " + c.message + "\n");
        EXPECT_EQ(result.out, usage);
        EXPECT_FALSE(fs::exists(l.record));
    }
}

TEST_F(Validation, HelpEndsTheRunBeforeAnythingElseHappens) {
    Launch l(scratch);
    l.arguments({"-tempdir", "does-not-exist", "-help"});
    RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, usage);
    EXPECT_EQ(result.err, "");
}

} // namespace
} // namespace e2e
