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
    EXPECT_NE(result.err.find("ERROR \t: The program that failed is " + target().javaName + "."), std::string::npos)
        << result.err;
    auto logs = bootstrapLogs(failed.tempBase);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(readFile(logs[0]).find("ERROR \t: Process failed to execute successfully. Return code was : 1"),
              std::string::npos);
    // The user is told last where to look.
    const std::string named = "WARNING \t: The bootstrap log of this run is kept at : " + target().path(logs[0]) + "\n";
    ASSERT_GE(result.out.size(), named.size()) << result.out;
    EXPECT_EQ(result.out.substr(result.out.size() - named.size()), named) << result.out;
    EXPECT_FALSE(temporaryDirectoryLeft(failed.tempBase));
}

// Side by side with other launchers (no machine-wide lock) a run that is
// interrupted while its installer runs still removes its directory. Its log
// stays and says why the run stopped; a log that nothing reached does not.
TEST_F(RunEnd, AnInterruptedRunWithoutTheInstanceLockLeavesNothing) {
    if (target().windows) GTEST_SKIP() << "signals are the POSIX side";
    for (int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        const bool quiet = signalNumber == SIGTERM;
        const fs::path record = scratch / ("record-" + std::to_string(signalNumber) + ".txt");
        const fs::path release = scratch / ("release-" + std::to_string(signalNumber));
        Launch l = launch();
        l.set("PROBE_RECORD", target().path(record)).holding(release);
        if (quiet) l.set("KORVU_LOG_LEVEL", "ERROR");
        // A base of its own: two runs in one second would name the same log.
        l.tempBase = scratch / ("temp-" + std::to_string(signalNumber));
        fs::create_directories(l.tempBase);
        l.set(target().temporaryVariable("TEMP"), target().path(l.tempBase));
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
        const std::vector<fs::path> logs = bootstrapLogs(l.tempBase);
        if (quiet) {
            EXPECT_TRUE(logs.empty());
            continue;
        }
        ASSERT_EQ(logs.size(), 1u);
        EXPECT_NE(readFile(logs[0]).find("WARNING \t: The run was interrupted before the installation ended"),
                  std::string::npos);
    }
}

// Links and junctions the installer leaves in its directory lead out of
// it: the clean-up removes them and nothing they lead to.
TEST_F(RunEnd, TheRemovalFollowsNoLinkPlantedInTheTemporaryDirectory) {
    const fs::path outside = scratch / "outside";
    fs::create_directories(outside / "folder");
    scratch.write("outside/keep.txt", "keep");
    const std::string to = target().path(outside);
    Launch l = launch();
    l.exitScript(target().windows
                     ? "@mklink /J \"%KORVU_BOOTSTRAP_TEMP%\\junction\" \"" + to + "\"\r\n"
                       "@mkdir \"%KORVU_BOOTSTRAP_TEMP%\\sub\"\r\n"
                       "@mklink /J \"%KORVU_BOOTSTRAP_TEMP%\\sub\\deeper\" \"" + to + "\\folder\"\r\n"
                     : "ln -s '" + to + "' \"$KORVU_BOOTSTRAP_TEMP/link\"\n"
                       "mkdir \"$KORVU_BOOTSTRAP_TEMP/sub\"\n"
                       "ln -s '" + to + "/folder' \"$KORVU_BOOTSTRAP_TEMP/sub/deeper\"\n"
                       "ln -s '" + to + "/keep.txt' \"$KORVU_BOOTSTRAP_TEMP/sub/file\"\n");
    const RunResult result = l.exitCode(0).run(installer);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(outside / "keep.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(outside / "folder"));
    EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase)) << result.err;
}

// Only the Linux launcher is asked to restart, and only with the system's
// shutdown programs replaced by a recording fake in a namespace of the
// test's own: Wine grants the shutdown privilege and no stand-in can catch
// the request there. A shutdown planted on an empty PATH or in the launch
// folder must not be what runs.
TEST_F(RunEnd, CodeFourRestartsTheMachineOnlyWithTheRightToDoSoAndOnlyThroughTheSystemsShutdown) {
    if (target().windows) GTEST_SKIP() << "no test may ask Windows to restart";
    const std::string fence = restartFenceProblem();
    if (!fence.empty()) GTEST_SKIP() << "no mount namespace for a fake shutdown: " << fence;
    const fs::path planted = scratch / "planted.txt";
    scratch.write("shutdown", "#!/bin/sh\necho \"$@\" >> '" + planted.string() + "'\n");
    fs::permissions(scratch / "shutdown", fs::perms::all);
    for (const char* path : {"", ":", "/usr/bin:/bin:"}) {
        SCOPED_TRACE(std::string("PATH ") + path);
        Launch l = launch();
        l.set("PATH", path).fencingTheRestart();
        RunResult result = l.exitCode(4).run(installer);
        EXPECT_EQ(result.exitCode, 4) << result.err;
        EXPECT_EQ(readFile(l.shutdownRecord), "-r now\n") << result.err;
        fs::remove(l.shutdownRecord);
    }
    EXPECT_FALSE(fs::exists(planted));

    const std::string nobody = nobodyProblem();
    if (!nobody.empty()) GTEST_SKIP() << "the refusal without the right needs an account without it: " << nobody;
    shareWithNobody(scratch);
    Launch l = launch();
    RunResult result = l.fencingTheRestart().asNobody().exitCode(4).run(installer);
    EXPECT_EQ(result.exitCode, 4) << result.err;
    EXPECT_FALSE(fs::exists(l.shutdownRecord));
    EXPECT_NE(result.err.find("ERROR \t: Failed to set privilege SE_SHUTDOWN_NAME. Reboot will not be performed."),
              std::string::npos)
        << result.err;
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

    // Code 4 restarts: only where the restart can be fenced.
    for (int quiet : restartFenceProblem().empty() ? std::vector<int>{0, 4} : std::vector<int>{0}) {
        Launch l = launch();
        l.arguments({"-javaHome", target().path(runtime), "-silent", "answers.properties"});
        if (quiet == 4) l.fencingTheRestart();
        result = l.exitCode(quiet).run(installer);
        EXPECT_EQ(result.out, "") << "code " << quiet;
    }
}

} // namespace
} // namespace e2e
