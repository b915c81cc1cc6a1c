// The run's private temporary directory: where it is made, and what is
// refused.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>

namespace e2e {
namespace {

TEST(TemporaryDirectory, AMissingTempdirStopsTheRunWithItsAbsolutePath) {
    Scratch scratch;
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "j").string()});
    Launch l(scratch);
    l.arguments({"-tempdir", "missing"});
    RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("ERROR \t: Unable to access temp directory " + target().path(scratch / "missing")),
              std::string::npos)
        << result.err;
}

TEST(TemporaryDirectory, IsPrivateAndNeverTakenOverFromSomebodyElse) {
    if (target().windows) GTEST_SKIP() << "owner-only modes and links are the POSIX side";
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "j").string()});
    Launch l(scratch);
    l.arguments({"-javaHome", target().path(runtime)}).exitScript("stat -c %a \"$KORVU_BOOTSTRAP_TEMP\" > '" +
                                                                  (scratch / "mode.txt").string() + "'\n");
    ASSERT_EQ(l.run(installer).exitCode, 0);
    EXPECT_EQ(readFile(scratch / "mode.txt"), "700\n");

    // Links planted under every name the clock of the next minute would
    // give: the names do not follow the clock, so the run goes on, and no
    // link is followed.
    const fs::path victim = scratch / "victim";
    fs::create_directories(victim);
    const fs::path base = scratch / "base";
    fs::create_directories(base);
    const long now = static_cast<long>(std::time(nullptr));
    for (long t = now - 1; t <= now + 60 + 64; ++t)
        fs::create_directory_symlink(victim, base / ("TALVE_TEMP_" + std::to_string(t % 10000000)));
    fs::remove(l.record);
    Launch planted(scratch);
    planted.arguments({"-javaHome", target().path(runtime), "-tempdir", target().path(base)});
    RunResult result = planted.run(installer);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::is_empty(victim));
    EXPECT_TRUE(readProbeRecord(planted.record));

    // A folder where no name at all can be made is named as such, not
    // taken for a missing setting.
    fs::remove(planted.record);
    const fs::path closed = scratch / "closed";
    fs::create_directories(closed);
    fs::permissions(closed, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(closed.c_str(), W_OK) == 0) GTEST_SKIP() << "the file modes do not bind this user";
    Launch refused(scratch);
    refused.arguments({"-javaHome", target().path(runtime), "-tempdir", target().path(closed)});
    result = refused.run(installer);
    fs::permissions(closed, fs::perms::owner_all);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("ERROR \t: Problem creating temp directory " + closed.string() + "/TALVE_TEMP_"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("ERROR \t: None of the 128 names tried in " + closed.string() +
                              " could be made: each exists already or the folder refuses new directories."),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("No temporary directory defined"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(refused.record));
}

// While a run lives, its directory is its own: a second launcher in the
// same base takes a directory of its own, and never removes or locks the
// running one's, which still holds what the installer was given.
TEST(TemporaryDirectory, ASecondLauncherLeavesARunningOnesDirectoryAlone) {
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar bytes").string()});
    const fs::path release = scratch / "release";
    Launch first(scratch);
    first.arguments({"-javaHome", target().path(runtime)}).holding(release);
    StartedProgram running = first.start(installer);
    ASSERT_NE(running.pid, 0);
    std::optional<ProbeRecord> record;
    for (int i = 0; i < 600 && !(record = readProbeRecord(first.record)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(record) << "the first installer did not start";
    const std::string temp = record->env("KORVU_BOOTSTRAP_TEMP");
    const fs::path directory = first.tempBase / temp.substr(temp.rfind(target().separator) + 1);
    ASSERT_TRUE(fs::is_directory(directory)) << directory;
    if (!target().windows) {
        // The lock is on the directory itself, and other processes see it.
        const RunResult probe = runProgram({"flock", "-n", directory.string(), "true"}, {{"PATH", "/usr/bin:/bin"}},
                                           scratch.root());
        EXPECT_EQ(probe.exitCode, 1) << "the running directory is not locked";
    }

    // The same base: both take it from TEMP.
    Launch second(scratch);
    second.record = scratch / "second-record.txt";
    second.set("PROBE_RECORD", target().path(second.record)).arguments({"-javaHome", target().path(runtime)});
    const RunResult other = second.run(installer);
    EXPECT_EQ(other.exitCode, 0) << other.err;
    const std::optional<ProbeRecord> otherRecord = readProbeRecord(second.record);
    ASSERT_TRUE(otherRecord);
    EXPECT_NE(otherRecord->env("KORVU_BOOTSTRAP_TEMP"), temp);
    EXPECT_EQ(readFile(directory / "install.jar"), "jar bytes");
    EXPECT_TRUE(fs::exists(directory / "exitscript.bat"));

    scratch.write(release.filename().string(), "");
    const RunResult ended = running.finish();
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_FALSE(temporaryDirectoryLeft(first.tempBase));
}

} // namespace
} // namespace e2e
