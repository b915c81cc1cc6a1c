// Faults while a run is under way: the temporary directory removed under the
// launcher, the installer killed by a signal, no room left for the payloads.
// Whatever happens, no temporary directory stays behind, and a run that ends
// with code 1 keeps its log.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

// The children of a process, read from /proc: the installer the launcher started.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& item : fs::directory_iterator("/proc")) {
        const std::string name = item.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(item.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid: the name may hold blanks, so read after its ')'.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        std::string state;
        pid_t ppid = 0;
        if (rest >> state >> ppid && ppid == parent) children.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return children;
}

class RunFaults : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(scratch / "temp"); }
    void TearDown() override { scratch.write("release", ""); }

    Launch launch() {
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)});
        return l;
    }

    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});
};

TEST_F(RunFaults, TheTemporaryDirectoryRemovedUnderTheLauncher) {
    if (target().windows) GTEST_SKIP() << "the exit script is a POSIX shell script here";
    Launch l = launch();
    l.exitCode(1).exitScript("rm -rf \"$KORVU_BOOTSTRAP_TEMP\"\n");
    const RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    EXPECT_EQ(bootstrapLogs(l.tempBase).size(), 1u);
}

TEST_F(RunFaults, AnInstallerKilledByASignal) {
    if (target().windows) GTEST_SKIP() << "signals are the POSIX side";
    Launch l = launch();
    StartedProgram launcher = l.holding(scratch / "release").start(installer);
    ASSERT_NE(launcher.pid, 0);
    std::vector<pid_t> installerProcess;
    for (int i = 0; i < 600 && installerProcess.empty(); ++i) {
        if (fs::exists(l.record)) installerProcess = childrenOf(launcher.pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(installerProcess.size(), 1u) << "the installer did not start";
    ASSERT_EQ(kill(installerProcess[0], SIGKILL), 0);
    const RunResult result = launcher.finish();
    EXPECT_EQ(result.signal, 0) << "the launcher itself ended by a signal";
    EXPECT_NE(result.exitCode, 0) << result.err;
    EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    if (result.exitCode == 1) {
        EXPECT_EQ(bootstrapLogs(l.tempBase).size(), 1u);
    }
}

// The temporary base on a small file system of its own, mounted in a mount
// namespace of the run's own so that the machine never sees it: too few
// bytes for the payloads, or too few files for the run's directory, its
// exit script, its payloads.
TEST_F(RunFaults, NoRoomInTheTemporaryBase) {
    if (target().windows) GTEST_SKIP() << "the small file system is a Linux tmpfs";
    const RunResult probe = runProgram({"unshare", "-rm", "true"}, {{"PATH", "/usr/bin:/bin"}}, scratch.root());
    if (probe.exitCode != 0) GTEST_SKIP() << "no mount namespace may be made here: " << probe.err;
    fs::path big = packInstaller(scratch, {"--jar", scratch.write("big.jar", std::string(300000, 'j')).string()}, "big");
    struct Room {
        const char* options;
        bool logPossible;
        bool directoryPossible;
    };
    for (const Room& room : {Room{"size=1m", true, true}, Room{"ro,size=1m", false, false},
                             Room{"size=10m,nr_inodes=3", false, true}, Room{"size=10m,nr_inodes=4", true, true}}) {
        SCOPED_TRACE(room.options);
        Launch l = launch();
        std::vector<std::string> argv{"unshare", "-rm", "sh", "-c",
                                      std::string("mount -t tmpfs -o ") + room.options +
                                          " talve-test \"$0\" && \"$@\"; status=$?; ls -A \"$0\" > \"$0.left\"; exit $status",
                                      l.tempBase.string(), big.string()};
        argv.insert(argv.end(), l.args.begin(), l.args.end());
        argv.push_back("-multipleInstance");
        // Named on the command line, the base is the only one tried.
        if (!room.directoryPossible) argv.insert(argv.end(), {"-tempdir", l.tempBase.string()});
        const RunResult result = runProgram(argv, l.environment, scratch.root());
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find("ERROR"), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(l.record)) << "the installer ran";
        // What the run left on its file system, listed before the namespace went away.
        const std::string left = readFile(l.tempBase.string() + ".left");
        EXPECT_EQ(left.find("TALVE_TEMP_"), std::string::npos) << left;
        if (room.logPossible) {
            EXPECT_NE(left.find("bootstrapLog_"), std::string::npos) << left;
        }
        // Every name refused: what went wrong is said, not that no folder was named.
        if (!room.directoryPossible) {
            EXPECT_NE(result.err.find("ERROR \t: None of the 128 names tried in " + l.tempBase.string() +
                                      " could be made: each exists already or the folder refuses new directories."),
                      std::string::npos)
                << result.err;
        }
    }
}

} // namespace
} // namespace e2e
