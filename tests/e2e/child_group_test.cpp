// What the programs the launcher starts leave behind them: helpers that an
// installer or the runtime unpacker starts, the time an interruption takes
// to end the run, an installer on a terminal, and a launcher started with
// its standard descriptors closed. Linux only: the Windows side (job objects,
// standard handles) is checked by the platform smoke test under Wine, which
// cannot deliver signals or keep a descriptor closed.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

bool waitForFile(const fs::path& path, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = Clock::now() + limit;
    while (!fs::exists(path) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(path);
}

// The probe's helper, known by the process id it wrote. It ignores
// interruptions, so only a stop ends it early; the test ends it itself when
// the launcher did not (the test started it, through the launcher).
class Helper {
public:
    explicit Helper(const fs::path& pidFile) : pidFile_(pidFile) {}
    ~Helper() {
        if (pid_ > 0 && running()) kill(pid_, SIGKILL);
    }
    const fs::path& file() const { return pidFile_; }
    bool started() {
        if (pid_ <= 0 && waitForFile(pidFile_)) std::ifstream(pidFile_) >> pid_;
        return pid_ > 0;
    }
    // The state letter of /proc/<pid>/stat: R, S, T (stopped), Z ...; "" when gone.
    std::string state() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string id, name, letter;
        return stat >> id >> name >> letter ? letter : std::string();
    }
    bool running() const {
        const std::string letter = state();
        return !letter.empty() && letter != "Z" && letter != "X";
    }
    bool endsWithin(std::chrono::milliseconds limit) const {
        const auto deadline = Clock::now() + limit;
        while (running() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return !running();
    }

private:
    fs::path pidFile_;
    pid_t pid_ = 0;
};

class ChildGroups : public ::testing::Test {
protected:
    void SetUp() override {
        if (target().windows) GTEST_SKIP() << "signals and descriptors are the POSIX side";
    }

    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path jar = scratch.write("install.jar", "jar");
    fs::path installer = packInstaller(scratch, {"--jar", jar.string()});

    // The probe is its own packed runtime: run with -o it unpacks itself.
    fs::path carryingTheRuntime() {
        return packInstaller(scratch, {"--jar", jar.string(), "--runtime", target().probe, "--runtime-size", "1"},
                             "with-runtime");
    }
};

// The grace time is 5 s; an installer that ends at once on the interruption
// ends the run at once, and the helper that ignores it is stopped with it.
TEST_F(ChildGroups, AnInterruptionStopsWhatTheInstallerStartedAndEndsTheRunAtOnce) {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        const std::string tag = std::to_string(signalNumber);
        Helper helper(scratch / ("helper-" + tag));
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)})
            .set("PROBE_HELPER", helper.file().string())
            .set("PROBE_RUN_STARTED", (scratch / ("started-" + tag)).string())
            .holding(scratch / ("release-" + tag));
        StartedProgram launcher = l.start(installer);
        ASSERT_NE(launcher.pid, 0);
        ASSERT_TRUE(helper.started()) << "the installer did not start its helper";
        ASSERT_TRUE(waitForFile(scratch / ("started-" + tag)));

        const auto signalled = Clock::now();
        ASSERT_EQ(kill(launcher.pid, signalNumber), 0);
        const RunResult result = launcher.finish();
        const double took = secondsSince(signalled);
        std::printf("signal %d to the end of the launcher: %.3f s\n", signalNumber, took);
        EXPECT_EQ(result.signal, signalNumber) << result.err;
        EXPECT_LT(took, 2.0);
        EXPECT_TRUE(helper.endsWithin(std::chrono::seconds(2))) << "the helper outlived the interruption";
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    }
}

// A helper that starts a session of its own, as daemons do, has left the
// installer's process group and terminal; an interruption ends it all the
// same, while a run that ends normally leaves it running like any helper.
TEST_F(ChildGroups, AHelperInASessionOfItsOwnEndsWithAnInterruptionOnly) {
    {
        Helper helper(scratch / "daemon-interrupted");
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)})
            .set("PROBE_HELPER", helper.file().string())
            .set("PROBE_HELPER_SESSION", "1")
            .set("PROBE_RUN_STARTED", (scratch / "started").string())
            .holding(scratch / "release");
        StartedProgram launcher = l.start(installer);
        ASSERT_NE(launcher.pid, 0);
        ASSERT_TRUE(helper.started());
        ASSERT_TRUE(waitForFile(scratch / "started"));
        ASSERT_EQ(kill(launcher.pid, SIGTERM), 0);
        const RunResult result = launcher.finish();
        EXPECT_EQ(result.signal, SIGTERM) << result.err;
        EXPECT_TRUE(helper.endsWithin(std::chrono::seconds(2))) << "the helper outlived the interruption";
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    }
    Helper helper(scratch / "daemon-kept");
    Launch l(scratch);
    l.arguments({"-javaHome", target().path(runtime)})
        .set("PROBE_HELPER", helper.file().string())
        .set("PROBE_HELPER_SESSION", "1");
    const RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_TRUE(helper.started());
    EXPECT_TRUE(helper.running()) << "a run that ended normally stopped what its installer started";
}

// The launcher's own files (the installer file it reads, its log, its locks)
// stay with it: a child and whatever that leaves running get none of them.
TEST_F(ChildGroups, NoFileOfTheLaunchersReachesTheInstaller) {
    Launch l(scratch);
    l.arguments({"-javaHome", target().path(runtime)});
    const RunResult result = l.run(installer);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const auto probe = readProbeRecord(l.record);
    ASSERT_TRUE(probe);
    // What the test itself passed on to the launcher may reach the installer.
    const std::string installerFile = fs::canonical(installer).string();
    const std::string temporaryBase = fs::canonical(l.tempBase).string();
    for (const std::string& descriptor : probe->inherited) {
        const std::string target = descriptor.substr(descriptor.find(' ') + 1);
        EXPECT_NE(target, installerFile) << descriptor;
        EXPECT_NE(target.rfind(temporaryBase, 0), 0u) << descriptor;
        EXPECT_NE(target.rfind("/tmp/TALVEMeridonInstaller", 0), 0u) << descriptor;
    }
}

// The unpacker's helper holds the pipe that carries the unpacker's error
// output: neither an ordinary end nor an interruption waits for the pipe.
TEST_F(ChildGroups, AHelperHoldingTheUnpackersErrorPipeHoldsUpNothing) {
    const fs::path withRuntime = carryingTheRuntime();
    {
        Helper helper(scratch / "helper-ordinary");
        Launch l(scratch);
        l.set("PROBE_HELPER", helper.file().string());
        const auto start = Clock::now();
        const RunResult result = l.run(withRuntime);
        const double took = secondsSince(start);
        std::printf("run with a helper left holding the error pipe: %.3f s\n", took);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_LT(took, 20.0) << "the run waited for the helper";
        EXPECT_TRUE(helper.started());
    }
    {
        Helper helper(scratch / "helper-interrupted");
        const fs::path unpacking = scratch / "unpacking";
        Launch l(scratch);
        l.set("PROBE_HELPER", helper.file().string())
            .set("PROBE_UNPACK_STARTED", unpacking.string())
            .set("PROBE_UNPACK_RELEASE", (scratch / "never").string());
        StartedProgram launcher = l.start(withRuntime);
        ASSERT_NE(launcher.pid, 0);
        ASSERT_TRUE(waitForFile(unpacking)) << "the runtime was not unpacked";
        ASSERT_TRUE(helper.started());
        const auto signalled = Clock::now();
        ASSERT_EQ(kill(launcher.pid, SIGINT), 0);
        const RunResult result = launcher.finish();
        const double took = secondsSince(signalled);
        std::printf("SIGINT while unpacking to the end of the launcher: %.3f s\n", took);
        EXPECT_EQ(result.signal, SIGINT) << result.err;
        EXPECT_LT(took, 5.0);
        EXPECT_TRUE(helper.endsWithin(std::chrono::seconds(2)));
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    }
}

// A launcher whose standard output and error are closed must not hand those
// numbers to its own files, nor the gap to the installer.
TEST_F(ChildGroups, ClosedStandardDescriptorsAreTheNullDeviceForTheLauncherAndTheInstaller) {
    Launch l(scratch);
    l.arguments({"-javaHome", target().path(runtime)}).exitCode(1);
    std::vector<std::string> argv{installer.string(), "-javaHome", runtime.string(), "-multipleInstance"};
    SpawnArrays arrays(argv, l.environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclose(&actions, 1);
    posix_spawn_file_actions_addclose(&actions, 2);
    posix_spawn_file_actions_addchdir_np(&actions, scratch.root().c_str());
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, arrays.argv()[0], &actions, nullptr, arrays.argv(), arrays.envp()), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);

    const std::string record = readFile(l.record);
    EXPECT_NE(record.find("FD 1 /dev/null\n"), std::string::npos) << record.substr(0, 600);
    EXPECT_NE(record.find("FD 2 /dev/null\n"), std::string::npos);
    const std::vector<fs::path> logs = bootstrapLogs(l.tempBase);
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = readFile(logs[0]);
    const std::string error = "ERROR \t: Process failed to execute successfully. Return code was : 1";
    const std::size_t first = log.find(error);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(error, first + 1), std::string::npos) << "console text landed in the log";
}

// A launcher in the foreground of a terminal of its own, as from a shell.
class TerminalSession {
public:
    TerminalSession(const std::vector<std::string>& argv, const Environment& environment, const fs::path& directory) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const std::string slave = ptsname(master_);
        SpawnArrays arrays(argv, environment);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, master_);
        // Opened by the leader of a new session: the terminal becomes its own.
        posix_spawn_file_actions_addopen(&actions, 0, slave.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        if (posix_spawn(&pid_, arrays.argv()[0], &actions, &attributes, arrays.argv(), arrays.envp()) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TerminalSession() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    bool started() const { return pid_ > 0; }
    void type(const std::string& keys) { EXPECT_EQ(write(master_, keys.data(), keys.size()), (ssize_t)keys.size()); }
    pid_t pid() const { return pid_; }
    // The wait status, reading the terminal meanwhile so that the launcher
    // never blocks on it; with untraced, a stop counts too.
    int finish(std::chrono::seconds limit = std::chrono::seconds(30), bool untraced = false) {
        const auto deadline = Clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG | (untraced ? WUNTRACED : 0)) == 0) {
            if (Clock::now() > deadline) return -1;
            pollfd readable{master_, POLLIN, 0};
            char buffer[1024];
            if (poll(&readable, 1, 50) > 0 && read(master_, buffer, sizeof buffer) <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!WIFSTOPPED(status)) pid_ = -1;
        return status;
    }

private:
    int master_ = -1;
    pid_t pid_ = -1;
};

// The installer reads the terminal (it would stop for good from the
// background), and Ctrl-C typed there, which reaches the installer's group
// alone, still ends the launcher by the signal with its directory removed
// and the helper stopped.
TEST_F(ChildGroups, OnATerminalTheInstallerReadsItAndCtrlCStillCleansUp) {
    const std::string bare = installer.string();
    {
        Launch l(scratch);
        l.set("PROBE_READ_LINE", "1");
        std::vector<std::string> argv{bare, "-javaHome", runtime.string(), "-multipleInstance"};
        TerminalSession session(argv, l.environment, scratch.root());
        ASSERT_TRUE(session.started());
        session.type("typed answer\n");
        const int status = session.finish();
        ASSERT_NE(status, -1) << "the installer could not read the terminal";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(readFile(l.record).find("LINE typed answer"), std::string::npos) << readFile(l.record);
    }
    {
        Helper helper(scratch / "helper-terminal");
        const fs::path started = scratch / "started-terminal";
        Launch l(scratch);
        l.set("PROBE_HELPER", helper.file().string())
            .set("PROBE_RUN_STARTED", started.string())
            .holding(scratch / "release-terminal");
        std::vector<std::string> argv{bare, "-javaHome", runtime.string(), "-multipleInstance"};
        TerminalSession session(argv, l.environment, scratch.root());
        ASSERT_TRUE(session.started());
        ASSERT_TRUE(helper.started());
        ASSERT_TRUE(waitForFile(started));
        const auto typed = Clock::now();
        session.type("\x03");
        const int status = session.finish();
        std::printf("Ctrl-C on the terminal to the end of the launcher: %.3f s\n", secondsSince(typed));
        ASSERT_NE(status, -1) << "the launcher did not learn of Ctrl-C";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
        EXPECT_TRUE(helper.endsWithin(std::chrono::seconds(2)));
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
    }
}

// Ctrl-Z typed on the terminal stops the installer's group; the launcher
// stops with it, so that the shell sees the job stop, and when it is let go
// on the installer goes on too and the run ends as usual.
TEST_F(ChildGroups, CtrlZOnTheTerminalStopsTheWholeRunAndItGoesOnTogether) {
    Helper helper(scratch / "helper-stopped");
    const fs::path started = scratch / "started-stopped", release = scratch / "release-stopped";
    Launch l(scratch);
    l.set("PROBE_HELPER", helper.file().string()).set("PROBE_RUN_STARTED", started.string()).holding(release);
    std::vector<std::string> argv{installer.string(), "-javaHome", runtime.string(), "-multipleInstance"};
    TerminalSession session(argv, l.environment, scratch.root());
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(helper.started());
    ASSERT_TRUE(waitForFile(started));

    session.type("\x1a");
    const int stopped = session.finish(std::chrono::seconds(10), true);
    ASSERT_TRUE(stopped != -1 && WIFSTOPPED(stopped)) << "the launcher did not stop with its installer";
    // The helper had the stop signal when the launcher stopped; it may not have stopped yet.
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (helper.state() != "T" && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(helper.state(), "T");

    ASSERT_EQ(kill(session.pid(), SIGCONT), 0);
    deadline = Clock::now() + std::chrono::seconds(5);
    while (helper.state() == "T" && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(helper.state(), "T") << "the installer's group was not let go on";
    scratch.write(release.filename().string(), "");
    const int status = session.finish();
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase));
}

} // namespace
} // namespace e2e
