// The machine-wide single-instance lock and the interruption of a run. These
// tests take the real lock, so CTest runs them one at a time (resource lock
// talve_instance_lock) and they stand aside when somebody else holds it.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

namespace e2e {
namespace {

// Read from /proc/locks, so that a lock held by a user is never touched, not
// even for a moment.
bool nativeLockHeldByOthers() {
    struct stat info;
    if (lstat("/tmp/TALVEMeridonInstaller.lock", &info) != 0) return false;
    std::ostringstream wanted;
    wanted << std::hex << major(info.st_dev) << ':' << minor(info.st_dev) << ':' << std::dec << info.st_ino;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string field;
        while (fields >> field)
            if (field == wanted.str()) return true;
    }
    return false;
}

template <typename Condition> bool waitUntil(Condition condition) {
    for (int i = 0; i < 600; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool temporaryDirectoryLeft(const fs::path& base) {
    for (const auto& item : fs::directory_iterator(base))
        if (item.path().filename().string().rfind("TALVE_TEMP_", 0) == 0) return true;
    return false;
}

const char* const refusal = "ERROR \t: An instance of this installer has already been launched.\n"
                            "ERROR \t: Only one instance of the installer can be running at the same time.\n"
                            "ERROR \t: An installer is already running.\n";

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        // Under Wine the lock lives in the suite's own Wine prefix.
        if (!target().windows && nativeLockHeldByOthers())
            GTEST_SKIP() << "an installer launcher on this machine holds /tmp/TALVEMeridonInstaller.lock";
    }

    void TearDown() override {
        // An installer left holding ends at once.
        scratch.write("release", "");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    Launch launch(const std::string& record) {
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)}).set("PROBE_RECORD", target().path(scratch / record));
        return l;
    }

    // Starts a launcher that takes the lock and waits until its installer runs.
    StartedProgram startHolder() {
        StartedProgram holder = launch("holder.txt").takingTheInstanceLock().holding(scratch / "release").start(installer);
        EXPECT_NE(holder.pid, 0);
        EXPECT_TRUE(waitUntil([&] {
            std::optional<ProbeRecord> record = readProbeRecord(scratch / "holder.txt");
            return record && record->has("KORVU_BOOTSTRAP_TEMP");
        })) << "the installer did not start";
        return holder;
    }

    fs::path holderTemporaryDirectory() {
        std::string temp = readProbeRecord(scratch / "holder.txt").value_or(ProbeRecord{}).cwd;
        return temp;
    }

    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});
};

TEST_F(SingleInstance, ASecondLauncherIsRefusedWhileTheFirstRunsUnlessMultipleInstancesAreAllowed) {
    StartedProgram holder = startHolder();

    RunResult refused = launch("refused.txt").takingTheInstanceLock().run(installer);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, refusal);
    EXPECT_FALSE(fs::exists(scratch / "refused.txt")) << "a refused launcher ran its installer";

    // A base of its own: in the same second both would pick the same directory name.
    fs::create_directories(scratch / "temp-alongside");
    Launch alongsideLaunch = launch("alongside.txt");
    alongsideLaunch.set(target().temporaryVariable("TEMP"), target().path(scratch / "temp-alongside"));
    RunResult alongside = alongsideLaunch.run(installer);
    EXPECT_EQ(alongside.exitCode, 0) << alongside.err;
    EXPECT_TRUE(fs::exists(scratch / "alongside.txt"));

    scratch.write("release", "");
    EXPECT_EQ(holder.finish().exitCode, 0);
    RunResult next = launch("next.txt").takingTheInstanceLock().run(installer);
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_TRUE(fs::exists(scratch / "next.txt"));
}

TEST_F(SingleInstance, AnInterruptionRemovesTheTemporaryDirectoryFreesTheLockAndEndsTheLauncherByTheSignal) {
    if (target().windows) GTEST_SKIP() << "Wine delivers no Ctrl-C here; the console handler has its own test";
    for (int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        fs::remove(scratch / "holder.txt");
        StartedProgram holder = startHolder();
        const fs::path temp = holderTemporaryDirectory();
        ASSERT_TRUE(fs::is_directory(temp));

        ASSERT_EQ(kill(holder.pid, signalNumber), 0);
        RunResult interrupted = holder.finish();
        EXPECT_EQ(interrupted.signal, signalNumber) << interrupted.err;
        EXPECT_FALSE(fs::exists(temp));
        EXPECT_FALSE(temporaryDirectoryLeft(scratch / "temp"));

        RunResult next = launch("next.txt").takingTheInstanceLock().run(installer);
        EXPECT_EQ(next.exitCode, 0) << next.err;
    }
}

// The kernel frees the lock with the launcher; the installer it leaves
// running must not have inherited it.
TEST_F(SingleInstance, ALauncherKilledWhileItsInstallerRunsLeavesTheLockFree) {
    if (target().windows) GTEST_SKIP() << "only the native launcher is killed outright";
    StartedProgram holder = startHolder();
    ASSERT_EQ(kill(holder.pid, SIGKILL), 0);
    EXPECT_EQ(holder.finish().signal, SIGKILL);

    RunResult next = launch("next.txt").takingTheInstanceLock().run(installer);
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_TRUE(fs::exists(scratch / "next.txt"));
}

// Ctrl-C while the carried runtime unpacks and while the exit script runs
// (the installer's own stage is tested above): the launcher ends by the
// signal, leaves no temporary directory and frees the lock.
TEST_F(SingleInstance, AnInterruptionWhileTheRuntimeUnpacksOrTheExitScriptRunsLeavesNothing) {
    if (target().windows) GTEST_SKIP() << "signals are the POSIX side";
    const fs::path reached = scratch / "reached", release = scratch / "release";
    const std::string waitHere = "touch '" + reached.string() + "'\nwhile [ ! -e '" + release.string() +
                                 "' ]; do sleep 0.05; done\n";
    fs::path slowRuntime = packInstaller(
        scratch, {"--jar", scratch.write("slow.jar", "jar").string(), "--runtime",
                  scratch.write("slow.sh", "#!/bin/sh\n" + waitHere + "exit 1\n").string(), "--runtime-size", "1"},
        "slow-runtime");
    struct Stage {
        const char* name;
        fs::path installer;
        bool withExitScript;
    };
    for (const Stage& stage : {Stage{"unpacking the runtime", slowRuntime, false},
                               Stage{"running the exit script", installer, true}}) {
        SCOPED_TRACE(stage.name);
        fs::remove(reached);
        Launch l(scratch);
        l.takingTheInstanceLock();
        if (stage.withExitScript) l.arguments({"-javaHome", target().path(runtime)}).exitScript(waitHere);
        StartedProgram launcher = l.start(stage.installer);
        ASSERT_NE(launcher.pid, 0);
        for (int i = 0; i < 600 && !fs::exists(reached); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(fs::exists(reached)) << "the stage was not reached";
        ASSERT_EQ(kill(launcher.pid, SIGINT), 0);
        const RunResult result = launcher.finish();
        EXPECT_EQ(result.signal, SIGINT) << result.err;
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
        scratch.write("release", "");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        fs::remove(release);
        RunResult next = launch("next.txt").takingTheInstanceLock().run(installer);
        EXPECT_EQ(next.exitCode, 0) << next.err;
    }
}

} // namespace
} // namespace e2e
