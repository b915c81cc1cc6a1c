// Runs short of what starting a program takes: an exported command line too
// large to hand on, too few processes, too few descriptors. None of them
// may leave the temporary directory with the extracted jars behind.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

namespace e2e {
namespace {

class StarvedRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (target().windows) GTEST_SKIP() << "the limits are the POSIX side";
    }
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});

    bool emptyBase(const Launch& l) { return fs::is_empty(l.tempBase); }
};

// Refused before anything is made, at once: the export of the arguments no
// longer takes time that grows with their square.
TEST_F(StarvedRun, ACommandLineNoProgramCanBeStartedWithIsRefusedAtTheStart) {
    std::vector<std::string> arguments{"-javaHome", target().path(runtime)};
    arguments.resize(70000, "x");
    Launch l(scratch);
    l.arguments(arguments);
    const auto start = std::chrono::steady_clock::now();
    const RunResult result = l.run(installer);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("ERROR \t: The command line is too long to be handed to the installer: its 70002 "
                              "arguments make an environment of "),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(readProbeRecord(l.record));
    EXPECT_TRUE(emptyBase(l));
    EXPECT_LT(seconds, 5.0);
}

TEST_F(StarvedRun, TooFewProcessesOrDescriptorsLeaveNoTemporaryDirectory) {
    struct Limit {
        std::vector<std::string> options;
        bool asNobody; // root is not held to RLIMIT_NPROC
    };
    for (const Limit& limit : {Limit{{"--nproc=2"}, true}, Limit{{"--nofile=4"}, false}}) {
        SCOPED_TRACE(limit.options.front());
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)}).limitedBy(limit.options);
        if (limit.asNobody) {
            const std::string problem = nobodyProblem();
            if (!problem.empty()) {
                std::cout << "[  SKIPPED ] " << limit.options.front() << ": " << problem << "\n";
                continue;
            }
            shareWithNobody(scratch);
            l.asNobody();
        }
        const RunResult result = l.run(installer);
        EXPECT_NE(result.exitCode, 0) << result.out << result.err;
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase)) << result.out << result.err;
        EXPECT_EQ(result.err.find("Failed to execute the clean up procedure"), std::string::npos) << result.err;
    }
}

} // namespace
} // namespace e2e
