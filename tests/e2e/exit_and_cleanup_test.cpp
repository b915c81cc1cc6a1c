// How a run ends: the installer's exit code, the bootstrap log kept only on
// failure, the exit script, the reboot request and the silent failure report.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

class RunEnd : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});

    Launch launch() {
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)});
        return l;
    }
};

TEST_F(RunEnd, ExitCodeIsTheInstallersAndOnlyAFailedRunKeepsItsLog) {
    for (int code : {0, 2, 3}) {
        Launch l = launch();
        EXPECT_EQ(l.exitCode(code).run(installer).exitCode, code);
        EXPECT_TRUE(bootstrapLogs(l.tempBase).empty()) << "code " << code;
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase)) << "code " << code;
    }
    Launch failed = launch();
    RunResult result = failed.exitCode(1).run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("ERROR \t: Process failed to execute successfully. Return code was : 1"),
              std::string::npos);
    auto logs = bootstrapLogs(failed.tempBase);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(readFile(logs[0]).find("ERROR \t: Process failed to execute successfully. Return code was : 1"),
              std::string::npos);
    EXPECT_FALSE(temporaryDirectoryLeft(failed.tempBase));
}

// Side by side with other launchers (no machine-wide lock) a run that is
// interrupted while its installer runs still removes its directory.
TEST_F(RunEnd, AnInterruptedRunWithoutTheInstanceLockLeavesNothing) {
    if (target().windows) GTEST_SKIP() << "signals are the POSIX side";
    for (int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        const fs::path record = scratch / ("record-" + std::to_string(signalNumber) + ".txt");
        const fs::path release = scratch / ("release-" + std::to_string(signalNumber));
        Launch l = launch();
        l.set("PROBE_RECORD", target().path(record)).holding(release);
        StartedProgram launcher = l.start(installer);
        ASSERT_NE(launcher.pid, 0);
        for (int i = 0; i < 600 && !readProbeRecord(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(readProbeRecord(record)) << "the installer did not start";
        ASSERT_EQ(kill(launcher.pid, signalNumber), 0);
        const RunResult result = launcher.finish();
        scratch.write(release.filename().string(), "");
        EXPECT_EQ(result.signal, signalNumber) << result.err;
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    }
}

// Under Wine the shutdown privilege is granted and no stand-in can catch the
// restart request, so only the Linux launcher is asked to restart.
TEST_F(RunEnd, CodeFourRestartsTheMachineOnlyWithTheRightToDoSo) {
    if (target().windows) GTEST_SKIP() << "no test may ask Windows to restart";
    Launch l = launch();
    RunResult result = l.exitCode(4).run(installer);
    EXPECT_EQ(result.exitCode, 4);
    if (geteuid() == 0) {
        EXPECT_EQ(readFile(l.shutdownRecord), "-r now\n");
    } else {
        EXPECT_FALSE(fs::exists(l.shutdownRecord));
        EXPECT_NE(result.err.find("ERROR \t: Failed to set privilege SE_SHUTDOWN_NAME. Reboot will not be performed."),
                  std::string::npos);
    }
}

TEST_F(RunEnd, ExitScriptRunsAfterTheInstallerAndItsFailureKeepsTheExitCode) {
    const fs::path marker = scratch / "exit-script-ran";
    const std::string markerPath = target().path(marker);
    Launch l = launch();
    l.exitScript(target().windows ? "@echo ran> \"" + markerPath + "\"\r\n" : "echo ran > '" + markerPath + "'\n");
    EXPECT_EQ(l.exitCode(2).run(installer).exitCode, 2);
    EXPECT_TRUE(fs::exists(marker));

    Launch failing = launch();
    failing.exitScript("exit 1\n");
    RunResult result = failing.exitCode(0).run(installer);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.err.find("ERROR \t: The exit script failed to execute properly. The return code was : 1"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(temporaryDirectoryLeft(failing.tempBase));
}

TEST_F(RunEnd, SilentFailureReportsWhereTheInstallationLogIs) {
    scratch.write("answers.properties", "a=b\n");
    Launch withLog = launch();
    withLog.arguments({"-javaHome", target().path(runtime), "-silent", "answers.properties"})
        .communicationFile("# written by the installer\ninstallationLog.usedLogFile = ?{dir}?\\\\x.log\n"
                           "dir=C\\:\\\\logs\n");
    RunResult result = withLog.exitCode(2).run(installer);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "The installation process did not complete successfully.\n"
                          "The installation log is available at the following location : [C:\\logs\\x.log]\n");

    Launch withoutLog = launch();
    withoutLog.arguments({"-javaHome", target().path(runtime), "-silent", "answers.properties"});
    result = withoutLog.exitCode(3).run(installer);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, "The installation process did not complete successfully.\n"
                          "The installation log can be found under the product home directory if the\n"
                          "installation location has already been set.\n"
                          "Otherwise, it is located in the temporary directory (" +
                              target().path(withoutLog.tempBase) + ").\n");

    for (int quiet : target().windows ? std::vector<int>{0} : std::vector<int>{0, 4}) {
        Launch l = launch();
        l.arguments({"-javaHome", target().path(runtime), "-silent", "answers.properties"});
        result = l.exitCode(quiet).run(installer);
        EXPECT_EQ(result.out, "") << "code " << quiet;
    }
}

} // namespace
} // namespace e2e
