#include "platform/interruption_gate.h"
#include "unit/support/context_bench.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace talve {
namespace test {
namespace {

using Lines = std::vector<std::string>;

const Lines refusalTail{"ERROR \t: An installer is already running."};

Lines errorsWith(Lines first) {
    first.insert(first.end(), refusalTail.begin(), refusalTail.end());
    return first;
}

TEST(InstanceGuard, EveryFailureOfTheLockIsTreatedAsARunningInstance) {
    struct Case {
        const char* what;
        InstanceLockResult answer;
        bool handlerInstalls;
        bool confirms;
        Lines errors;
    };
    const Case cases[] = {
        {"held elsewhere", InstanceLockResult::HeldElsewhere, true, true,
         errorsWith({"ERROR \t: An instance of this installer has already been launched.",
                     "ERROR \t: Only one instance of the installer can be running at the same time."})},
        {"no lock", InstanceLockResult::Unavailable, true, true, errorsWith({"ERROR \t: Error while creating mutex."})},
        {"no handler", InstanceLockResult::Taken, false, true,
         errorsWith({"ERROR \t: Failed to set Handler (CTRL-C)."})},
        {"wait failed", InstanceLockResult::Taken, true, false,
         // The message ends in a line break of its own.
         errorsWith({"ERROR \t: Failed to lock the resource !", ""})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ContextBench bench;
        bench.platform.lockAnswer = c.answer;
        bench.platform.handlerInstalls = c.handlerInstalls;
        bench.platform.lockConfirms = c.confirms;
        EXPECT_FALSE(bench.context.checkOtherInstances());
        EXPECT_EQ(bench.log.errors(), c.errors);
        EXPECT_FALSE(bench.context.instanceLockHeld());
        // A run that stops does not keep the lock until its process ends.
        EXPECT_FALSE(bench.platform.lockHeld);
        EXPECT_FALSE(bench.platform.exitHandler);
    }
}

// Something planted at the lock's name refuses every installer: the refusal
// says what and where, between the two usual lines.
TEST(InstanceGuard, AnUnusableLockSaysWhatWasFoundInItsPlace) {
    ContextBench bench;
    bench.platform.lockAnswer = InstanceLockResult::Unavailable;
    bench.platform.lockProblem = "The lock file \"/tmp/x.lock\" cannot be used: it is a directory.";
    EXPECT_FALSE(bench.context.checkOtherInstances());
    EXPECT_EQ(bench.log.errors(), errorsWith({"ERROR \t: Error while creating mutex.",
                                              "ERROR \t: The lock file \"/tmp/x.lock\" cannot be used: it is a directory."}));
}

TEST(InstanceGuard, TakesTheMachineWideLockUnlessMultipleInstancesAreAllowed) {
    ContextBench bench;
    EXPECT_TRUE(bench.context.checkOtherInstances());
    EXPECT_EQ(bench.platform.lockName, "TALVEMeridonInstaller");
    EXPECT_TRUE(bench.platform.lockHeld);
    EXPECT_TRUE(bench.context.instanceLockHeld());
    EXPECT_TRUE(bench.platform.interruptHandler && bench.platform.exitHandler);
    EXPECT_TRUE(bench.log.has("INFO \t: Checking for other instances."));
    EXPECT_TRUE(bench.log.has("INFO \t: Checking if an installer is already launched."));

    ContextBench allowed;
    allowed.context.multipleInstances = true;
    allowed.platform.lockAnswer = InstanceLockResult::HeldElsewhere;
    EXPECT_TRUE(allowed.context.checkOtherInstances());
    EXPECT_EQ(allowed.platform.lockName, "");
    // No lock, but an interrupted run still leaves nothing behind.
    ASSERT_TRUE(allowed.platform.interruptHandler && allowed.platform.exitHandler);
    allowed.context.tempDir = "C:\\Temp\\TALVE_TEMP_7";
    allowed.platform.interruptHandler();
    EXPECT_EQ(allowed.platform.removedTrees, Lines{"C:\\Temp\\TALVE_TEMP_7"});
    EXPECT_EQ(allowed.platform.lockReleases, 0);
    EXPECT_FALSE(allowed.context.instanceLockHeld());
}

TEST(InstanceGuard, ReleaseCleansUpAndFreesTheLockOnce) {
    ContextBench bench;
    bench.context.tempDir = "C:\\Temp\\TALVE_TEMP_7";
    ASSERT_TRUE(bench.context.checkOtherInstances());
    bench.platform.exitHandler();
    bench.platform.interruptHandler();
    bench.context.releaseInstance();
    EXPECT_FALSE(bench.platform.lockHeld);
    EXPECT_EQ(bench.platform.lockReleases, 1);
    EXPECT_EQ(bench.platform.removedTrees, Lines{"C:\\Temp\\TALVE_TEMP_7"});
    EXPECT_TRUE(bench.context.cleanedUp);
}

// The exit handler follows the driver's own clean-up: a directory that is
// gone is not removed again, one whose removal failed is tried once more.
TEST(InstanceGuard, TheExitHandlerRemovesTheDirectoryOnlyWhenTheDriverCouldNot) {
    for (bool driverRemoved : {true, false}) {
        SCOPED_TRACE(driverRemoved);
        ContextBench bench(FakePlatform::Style::Posix);
        bench.context.tempDir = "/tmp/TALVE_TEMP_7";
        ASSERT_TRUE(bench.context.checkOtherInstances());
        if (!driverRemoved) bench.platform.unremovableTrees.push_back(TreeRemoval{false, 1, "/tmp/TALVE_TEMP_7/x (busy)"});
        bench.context.cleanUp();
        bench.platform.exitHandler();
        EXPECT_EQ(bench.platform.removedTrees.size(), driverRemoved ? 1u : 2u);
        EXPECT_FALSE(bench.platform.lockHeld);
    }
}

TEST(NetworkLaunch, ANetworkCurrentDirectoryIsLeftForTheUsersHome) {
    ContextBench windows(FakePlatform::Style::Windows, {{"USERPROFILE", "C:\\Users\\ann"}});
    windows.platform.directories.insert("C:\\Users\\ann");
    windows.platform.currentDir = "\\\\server\\share\\dir";
    windows.context.checkNetworkLaunch();
    EXPECT_EQ(windows.platform.currentDir, "C:\\Users\\ann");
    EXPECT_TRUE(windows.log.has("WARNING \t: The installer has been launched from a network location."));

    ContextBench posix(FakePlatform::Style::Posix, {{"HOME", "/home/ann"}, {"USERPROFILE", "/nowhere"}});
    posix.platform.directories.insert("/home/ann");
    posix.platform.currentDir = "//server/share";
    posix.context.checkNetworkLaunch();
    EXPECT_EQ(posix.platform.currentDir, "/home/ann");

    for (const char* local : {"/work", "/server//share"}) {
        ContextBench stays(FakePlatform::Style::Posix, {{"HOME", "/home/ann"}});
        stays.platform.currentDir = local;
        stays.context.checkNetworkLaunch();
        EXPECT_EQ(stays.platform.currentDir, local);
        EXPECT_TRUE(stays.platform.directoryChanges.empty());
    }
}

// The handler thread interrupts a run whose installer is running: the
// installer gets the interruption and ends, the main thread stops for good
// where it learns of that end, what the installer left running is stopped
// all the same, and the directory is removed once, by the handler.
TEST(Interruption, TheHandlerCleansUpAloneWhileTheMainThreadStops) {
    // The stopped thread never returns: what it uses stays alive.
    auto* gate = new InterruptionGate;
    auto* bench = new ContextBench(FakePlatform::Style::Posix);
    bench->context.tempDir = "/tmp/TALVE_TEMP_7";
    bench->platform.gate = gate;
    ASSERT_TRUE(bench->context.checkOtherInstances());

    std::promise<void> passedOn;
    std::shared_future<void> installerEnds = passedOn.get_future().share();
    std::promise<void> installerRuns;
    bench->platform.duringProcess = [&](const std::string& commandLine) {
        if (commandLine != "installer") return;
        installerRuns.set_value();
        installerEnds.wait();
    };
    std::thread([bench] {
        bench->context.executeCommand("installer", false);
        bench->context.cleanUp();
        ADD_FAILURE() << "the main thread went on after the interruption";
    }).detach();
    installerRuns.get_future().wait();

    ASSERT_TRUE(gate->begin());
    EXPECT_FALSE(gate->begin()) << "a second interruption is handled again";
    InterruptionSteps steps;
    int stopped = 0;
    steps.passOn = [&](InterruptionGate::ChildId) { passedOn.set_value(); };
    steps.stop = [&](InterruptionGate::ChildId) { ++stopped; };
    steps.cleanUp = bench->platform.interruptHandler;
    steps.othersGrace = std::chrono::seconds(10);
    runInterruption(*gate, steps);

    EXPECT_EQ(stopped, 1) << "helpers of the ended installer may still run";
    Lines commands;
    for (const FakePlatform::ProcessCall& call : bench->platform.processCalls) commands.push_back(call.commandLine);
    EXPECT_EQ(commands, Lines{"installer"});
    EXPECT_EQ(bench->platform.removedTrees, Lines{"/tmp/TALVE_TEMP_7"});
    EXPECT_FALSE(bench->platform.lockHeld);
    gate->close();
}

// The thread that waited for the child stops for good once it learns of
// the end, and the child's id stays known, so that the handler can stop what
// the child started under it.
TEST(Interruption, AChildThatIgnoresTheInterruptionIsStoppedWithWhatItStarted) {
    // The stopped thread never returns: what it uses stays alive.
    auto* gate = new InterruptionGate;
    auto* stop = new std::promise<void>;
    std::shared_future<void> stopped = stop->get_future().share();
    std::promise<InterruptionGate::ChildId> started;
    std::thread([gate, stopped, &started] {
        InterruptionGate::ChildId child = gate->startChild([] { return InterruptionGate::ChildId{42}; });
        started.set_value(child);
        stopped.wait();
        gate->childEnded(child);
        ADD_FAILURE() << "the waiting thread went on after the interruption";
    }).detach();
    EXPECT_EQ(started.get_future().get(), 42);

    ASSERT_TRUE(gate->begin());
    InterruptionSteps steps;
    Lines done;
    steps.passOn = [&](InterruptionGate::ChildId child) { done.push_back("passed on to " + std::to_string(child)); };
    steps.stop = [&](InterruptionGate::ChildId child) {
        done.push_back("stopped " + std::to_string(child));
        if (done.size() == 2) stop->set_value();
    };
    steps.cleanUp = [&] { done.push_back("cleaned up"); };
    steps.childGrace = std::chrono::milliseconds(100);
    steps.othersGrace = std::chrono::seconds(10);
    runInterruption(*gate, steps);
    EXPECT_EQ(done, (Lines{"passed on to 42", "stopped 42", "cleaned up"}));
    // Its value is set: the stopped thread's future keeps what it needs.
    delete stop;

    // An interruption after the child ended in the ordinary way has nobody to stop.
    InterruptionGate later;
    const InterruptionGate::ChildId child = later.startChild([] { return InterruptionGate::ChildId{43}; });
    later.childEnded(child);
    ASSERT_TRUE(later.begin());
    done.clear();
    steps.othersGrace = std::chrono::milliseconds(10);
    runInterruption(later, steps);
    EXPECT_EQ(done, (Lines{"cleaned up"}));
}

TEST(Interruption, OnceTheExitHasBegunInterruptionsAreIgnored) {
    InterruptionGate gate;
    gate.close();
    EXPECT_FALSE(gate.begin());
    EXPECT_EQ(gate.startChild([] { return InterruptionGate::ChildId{7}; }), 7);
}

} // namespace
} // namespace test
} // namespace talve
