#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "splash/flash_screen.h"
#include "splash/splash_runner.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talve {
namespace {

using Lines = std::vector<std::string>;
constexpr std::uint64_t MiB = 1u << 20;

// An installer carrying a splash picture, read from a scratch directory that
// is also the current directory, where the picture is extracted to.
class SplashLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory = std::filesystem::current_path();
        std::filesystem::current_path(scratch.path());
        bench.context.tempDir = "C:\\Temp\\TALVE_TEMP_1";
        bench.platform.freeBytes = 50 * MiB;
    }
    void TearDown() override { std::filesystem::current_path(previousDirectory); }

    JarExtractor& open(std::uint32_t diskspace = 1000) {
        installer.payload(table::splashEntry, "GIF89a picture", "splash.gif");
        installer.row(table::splashEntry).diskspace = diskspace;
        installer.write(scratch.file("setup"));
        EXPECT_TRUE(reader.open(scratch.file("setup")));
        return reader;
    }

    test::FakeSplashScene& scene() { return *bench.platform.splashScene; }

    std::vector<std::string> linesFrom(std::size_t first) {
        std::vector<std::string> all = bench.log.lines();
        return Lines(all.begin() + static_cast<long>(std::min(first, all.size())), all.end());
    }

    test::ScratchDirectory scratch;
    std::filesystem::path previousDirectory;
    test::ContextBench bench;
    test::InstallerBuilder installer;
    JarExtractor reader{bench.context};
};

TEST_F(SplashLaunch, SilentOrDisabledRunsStartNoThreadAndLogOnlyTheEntryLine) {
    open();
    for (bool silent : {true, false}) {
        bench.context.silentMode = silent;
        bench.context.splashEnabled = silent;
        const std::size_t before = bench.log.lines().size();
        EXPECT_EQ(reader.launchSplashScreen(), 0);
        EXPECT_EQ(linesFrom(before), (Lines{"INFO \t: In JarExtractor::launchSplashScreen method"}));
    }
    EXPECT_EQ(scene().windowsMade, 0);
    EXPECT_FALSE(test::fileExists(scratch.file("splash.gif")));
}

TEST_F(SplashLaunch, WithoutASplashRowNothingIsShown) {
    installer.payload(table::jarEntry, "jar");
    installer.write(scratch.file("setup"));
    ASSERT_TRUE(reader.open(scratch.file("setup")));
    EXPECT_EQ(reader.launchSplashScreen(), 0);
    EXPECT_EQ(scene().windowsMade, 0);
}

TEST_F(SplashLaunch, ASmallPictureStillNeedsOneMegabyteAndAnUnknownFreeSpaceStopsTheRun) {
    open(MiB - 1);
    bench.platform.freeBytes = MiB - 1;
    EXPECT_EQ(reader.launchSplashScreen(), 1);
    bench.platform.freeBytes = std::nullopt;
    EXPECT_EQ(reader.launchSplashScreen(), 1);
    EXPECT_EQ(bench.log.errors(),
              (Lines{"ERROR \t: There is not enough space in C:\\Temp\\TALVE_TEMP_1 to launch the installer.",
                     "ERROR \t: The actual free space is 0 Mb but the needed space is 1 Mb.",
                     "ERROR \t: There is not enough space in C:\\Temp\\TALVE_TEMP_1 to launch the installer.",
                     "ERROR \t: The actual free space is -1 Mb but the needed space is 1 Mb."}));
    EXPECT_EQ(scene().windowsMade, 0);
    EXPECT_FALSE(test::fileExists(scratch.file("splash.gif")));
}

TEST_F(SplashLaunch, ShowsTheExtractedPictureAfterWaitingHalfASecond) {
    open(3 * MiB + 5);
    const std::size_t before = bench.log.lines().size();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(reader.launchSplashScreen(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    EXPECT_EQ(test::readFile(scratch.file("splash.gif")), "GIF89a picture");
    EXPECT_EQ(scene().stepsSoFar(), (Lines{"load splash.gif", "register", "create TALVE Installer", "present"}));
    EXPECT_EQ(scene().paintedSoFar(), (Lines{"Unpacking data..."}));
    EXPECT_TRUE(scene().isVisible());
    const Lines logged = linesFrom(before);
    EXPECT_NE(std::find(logged.begin(), logged.end(),
                        "INFO \t: There is actually 50 Mb of free space in \"C:\\Temp\\TALVE_TEMP_1\""),
              logged.end());
    EXPECT_NE(std::find(logged.begin(), logged.end(), "INFO \t: 4 Mb of space will be used for the splash screen."),
              logged.end());
    EXPECT_TRUE(bench.log.errors().empty());
}

struct ThreadFailure {
    const char* name;
    void (*script)(test::FakeSplashScene&);
    const char* warning;
    const char* detail; // the DEBUG line after it, if any
};

TEST_F(SplashLaunch, AFailureOnTheSplashThreadIsOneWarningAndTheRunGoesOn) {
    const ThreadFailure failures[] = {
        {"image", [](test::FakeSplashScene& s) { s.imageLoads = false; },
         "WARNING \t: Failed to open image [splash.gif]", nullptr},
        {"class", [](test::FakeSplashScene& s) { s.classRegisters = false; },
         "WARNING \t: Failed to RegisterClass: ", nullptr},
        {"window",
         [](test::FakeSplashScene& s) {
             s.windowCreates = false;
             s.createFailureReason = "(DISPLAY is not set)";
         },
         // The warning's text is fixed; the reason has a line of its own.
         "WARNING \t: Failed to CreateWindowEx ", "DEBUG \t: The splash window was not created (DISPLAY is not set)"},
    };
    open();
    for (const ThreadFailure& failure : failures) {
        bench.platform.splashScene = std::make_shared<test::FakeSplashScene>();
        failure.script(scene());
        const std::size_t before = bench.log.lines().size();
        EXPECT_EQ(reader.launchSplashScreen(), 0) << failure.name;
        const Lines logged = linesFrom(before);
        EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                                [](const std::string& line) { return line.rfind("WARNING", 0) == 0; }),
                  1)
            << failure.name;
        const Lines expected = failure.detail ? Lines{failure.warning, failure.detail} : Lines{failure.warning};
        ASSERT_GE(logged.size(), expected.size()) << failure.name;
        EXPECT_EQ(Lines(logged.end() - expected.size(), logged.end()), expected) << failure.name;
        // What was started before the failing step is given back.
        EXPECT_EQ(scene().stepsSoFar().back(), "close") << failure.name;
        EXPECT_FALSE(scene().isVisible());
    }
    EXPECT_TRUE(bench.log.errors().empty());
}

// The display connects while the picture is loaded; the round trips that
// make the window come after.
TEST_F(SplashLaunch, AWindowSystemThatStopsAnsweringIsGivenUpAndItsWindowNeverShows) {
    open();
    for (const char* step : {"load", "create"}) {
        auto held = std::make_shared<test::FakeSplashScene>();
        held->holdAt = step;
        bench.platform.splashScene = held;
        const std::size_t before = bench.log.lines().size();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(reader.launchSplashScreen(), 0) << step;
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(1500)) << step;
        EXPECT_LT(waited, std::chrono::milliseconds(2500)) << step;
        const Lines logged = linesFrom(before);
        ASSERT_GE(logged.size(), 2u) << step;
        EXPECT_EQ(Lines(logged.end() - 2, logged.end()),
                  (Lines{"WARNING \t: Failed to CreateWindowEx ",
                         "DEBUG \t: The splash window was not created (the window system did not answer within "
                         "1500 ms)"}))
            << step;

        // The window system answers after all: what it made is given back unseen.
        held->release();
        EXPECT_TRUE(held->waitUntil([&] { return !held->steps.empty() && held->steps.back() == "close"; })) << step;
        const Lines steps = held->stepsSoFar();
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "present"), 0) << step;
        EXPECT_FALSE(held->isVisible()) << step;
    }
    EXPECT_TRUE(bench.log.errors().empty());
}

TEST(SplashRunner, CloseRequestTakesTheWindowAwayButNotTheThreadsState) {
    test::FakePlatform platform;
    auto scene = platform.splashScene;
    auto runner = std::make_unique<SplashRunner>(platform, "splash.gif", "Unpacking data...", "TALVE Installer");
    ASSERT_EQ(runner->waitForWindow(), 0);
    EXPECT_TRUE(runner->started());
    EXPECT_FALSE(runner->finished());

    runner->screen()->setText("Almost there");
    ASSERT_TRUE(scene->waitUntil([&] { return scene->painted.size() >= 2; }));
    EXPECT_EQ(scene->paintedSoFar().back(), "Almost there");
    EXPECT_TRUE(scene->isVisible());

    runner->screen()->requestClose();
    ASSERT_TRUE(scene->waitUntil([&] { return !scene->visible; }));
    EXPECT_EQ(scene->stepsSoFar().back(), "close");
    // The thread parks instead of ending; dropping the runner is safe.
    EXPECT_FALSE(runner->finished());
    runner.reset();
    const std::vector<std::string> steps = scene->stepsSoFar();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "close"), 1);
}

TEST(SplashRunner, DroppingTheRunnerOfAFailedRunClosesItsWindow) {
    test::FakePlatform platform;
    auto scene = platform.splashScene;
    auto runner = std::make_unique<SplashRunner>(platform, "splash.gif", "Unpacking data...", "TALVE Installer");
    ASSERT_EQ(runner->waitForWindow(), 0);
    runner.reset();
    EXPECT_TRUE(scene->waitUntil([&] { return !scene->visible; }));
}

} // namespace
} // namespace talve
