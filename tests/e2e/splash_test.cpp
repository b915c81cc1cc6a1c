// The splash window as a user sees it, on a private X display: natively,
// and under Wine for the Windows launcher. The carried runtime is the probe,
// which waits while it "unpacks", so the screen can be looked at while the
// splash is up, and again once the installer runs.

#include "support/fake_x_server.h"
#include "support/gif_picture.h"
#include "support/harness.h"
#include "support/x_display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <iostream>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace e2e {
namespace {

using namespace std::chrono_literals;

bool waitForFile(const fs::path& path, std::chrono::milliseconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Screen coordinates of the picture's top-left pixel: where the launcher
// puts the window, or a few pixels further in, where Windows draws the
// window's dialog frame around the picture (and over its far edges).
std::optional<std::pair<int, int>> findPicture(const Screenshot& shot, const QuadrantPicture& picture, int x, int y) {
    if (shot.pixels.empty()) return std::nullopt;
    for (int dy = 0; dy <= 6; ++dy)
        for (int dx = 0; dx <= 6; ++dx) {
            const int left = x + dx, top = y + dy;
            if (shot.at(left, top) == picture.topLeft && !(shot.at(left - 1, top) == picture.topLeft) &&
                !(shot.at(left, top - 1) == picture.topLeft) &&
                shot.at(left + picture.width - 10, top + picture.height - 10) == picture.bottomRight)
                return std::make_pair(left, top);
        }
    return std::nullopt;
}

int darkPixels(const Screenshot& shot, int left, int top, int right, int bottom) {
    int dark = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            const Rgb pixel = shot.at(x, y);
            if (pixel.red < 110 && pixel.green < 110 && pixel.blue < 110) ++dark;
        }
    return dark;
}

bool showsPictureCorner(const Screenshot& shot, const QuadrantPicture& picture, int x, int y) {
    if (shot.pixels.empty()) return false;
    for (int dy = 0; dy <= 6; ++dy)
        for (int dx = 0; dx <= 6; ++dx)
            if (shot.at(x + dx + 10, y + dy + 10) == picture.topLeft) return true;
    return false;
}

// Wine draws on the display that its session's first process found, and
// the suite's shared prefix was started without one. A prefix of the test's
// own, sharing the C: drive, starts a Wine session on the test's display.
class PrivateWinePrefix {
public:
    explicit PrivateWinePrefix(const Scratch& scratch) {
        if (!target().windows) return;
        const fs::path shared = target().environment.at("WINEPREFIX");
        path_ = scratch / "wine-prefix";
        fs::create_directories(path_);
        for (const auto& item : fs::directory_iterator(shared)) {
            const fs::path name = item.path().filename();
            if (name == "drive_c")
                fs::create_directory_symlink(item.path(), path_ / name);
            else if (name != "wineserver")
                fs::copy(item.path(), path_ / name, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        }
    }
    // Ends the session's processes before the display and the files go.
    ~PrivateWinePrefix() {
        if (!path_.empty()) runProgram({"wineserver", "-k"}, {{"WINEPREFIX", path_.string()}, {"PATH", "/usr/bin:/bin"}}, "/");
    }
    void use(Launch& launch) const {
        if (!path_.empty()) launch.set("WINEPREFIX", path_.string());
    }

private:
    fs::path path_;
};

class Splash : public ::testing::Test {
protected:
    static void SetUpTestSuite() { display = new XDisplay; }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(display->running()) << "Xvfb could not be started"; }

    // An installer whose splash row carries these bytes as "splash.gif" and
    // whose packed runtime is the probe.
    fs::path installer(const std::string& splashBytes) {
        const fs::path runtime = scratch / (target().windows ? "jvm.exe" : "jvm");
        fs::copy_file(target().probe, runtime, fs::copy_options::overwrite_existing);
        fs::permissions(runtime, fs::perms::owner_all);
        return packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string(), "--splash",
                                       scratch.write("pictures/splash.gif", splashBytes).string(), "--runtime",
                                       runtime.string(), "--runtime-size", "1000"});
    }

    Launch launch() {
        Launch l(scratch);
        l.set("DISPLAY", display->name()).set("PROBE_JAVA_NAME", target().javaName);
        l.set("PROBE_UNPACK_STARTED", target().path(unpacking)).set("PROBE_UNPACK_RELEASE", target().path(unpacked));
        l.set("PROBE_RUN_STARTED", target().path(running)).set("PROBE_RUN_RELEASE", target().path(ran));
        wine.use(l);
        return l;
    }

    static XDisplay* display;
    Scratch scratch;
    PrivateWinePrefix wine{scratch};
    QuadrantPicture picture;
    fs::path unpacking = scratch / "unpacking", unpacked = scratch / "unpacked";
    fs::path running = scratch / "running", ran = scratch / "ran";
    // Where the layout puts a 200 x 120 picture with its 40-pixel band.
    const int windowX = (XDisplay::width - 200 + 1) / 2, windowY = (XDisplay::height - 160 + 1) / 2;
};

XDisplay* Splash::display = nullptr;

TEST_F(Splash, ShowsPictureAndBandCentredWhileUnpackingAndGoesWhenTheInstallerRuns) {
    const fs::path setup = installer(picture.gif());
    Launch l = launch();
    auto run = std::async(std::launch::async, [&] { return l.run(setup); });
    ASSERT_TRUE(waitForFile(unpacking)) << "the runtime was never unpacked";

    // The window may still be painting when the unpacking starts.
    std::optional<std::pair<int, int>> origin;
    Screenshot shot;
    for (int attempt = 0; attempt < 100 && !origin; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(50ms);
        shot = display->capture();
        origin = findPicture(shot, picture, windowX, windowY);
    }
    if (origin) {
        const auto [x, y] = *origin;
        EXPECT_EQ(shot.at(x + 150, y + 30), picture.topRight);
        EXPECT_EQ(shot.at(x + 50, y + 90), picture.bottomLeft);
        // The band under the picture, away from the text.
        EXPECT_EQ(shot.at(x + 150, y + 125), (Rgb{211, 211, 211}));
        EXPECT_EQ(shot.at(x + 190, y + 150), (Rgb{211, 211, 211}));
        // "Unpacking data..." starts 5 pixels in and 13 below the picture.
        for (int attempt = 0; attempt < 40 && darkPixels(shot, x + 5, y + 133, x + 110, y + 152) < 30; ++attempt) {
            std::this_thread::sleep_for(50ms);
            shot = display->capture();
        }
        EXPECT_GE(darkPixels(shot, x + 5, y + 133, x + 110, y + 152), 30);
        EXPECT_EQ(darkPixels(shot, x, y + 120, x + 4, y + 150), 0) << "text left of its place";
        EXPECT_EQ(darkPixels(shot, x + 5, y + 120, x + 110, y + 130), 0) << "text above its place";
        // For the README: scripts/update-screenshots.sh copies them into docs/images.
        fs::create_directories(TALVE_SCREENSHOT_DIR);
        const std::string name = target().windows ? "splash-windows.png" : "splash-linux.png";
        EXPECT_TRUE(shot.savePng((fs::path(TALVE_SCREENSHOT_DIR) / name).string(), windowX - 20, windowY - 20,
                                 windowX + 220, windowY + 180));
    } else {
        const std::string name = target().windows ? "failed-windows.png" : "failed-linux.png";
        fs::create_directories(TALVE_SCREENSHOT_DIR);
        shot.savePng((fs::path(TALVE_SCREENSHOT_DIR) / name).string(), 0, 0, shot.width, shot.height);
        ADD_FAILURE() << "no picture near (" << windowX << ", " << windowY << "); the screen is in " << name;
    }

    scratch.write("unpacked", "");
    ASSERT_TRUE(waitForFile(running)) << "the installer never started";
    bool gone = false;
    for (int attempt = 0; attempt < 100 && !gone; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(50ms);
        gone = !showsPictureCorner(display->capture(), picture, windowX, windowY);
    }
    EXPECT_TRUE(gone) << "the splash is still on the screen while the installer runs";

    scratch.write("ran", "");
    RunResult result = run.get();
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(result.out.find("WARNING"), std::string::npos) << result.out;
}

TEST_F(Splash, APictureThatCannotBeDecodedIsOneWarningAndTheRunGoesOn) {
    const fs::path setup = installer("GIF89a, but nothing after it");
    scratch.write("unpacked", "");
    scratch.write("ran", "");
    Launch l = launch();
    RunResult result = l.arguments({"-console"}).run(setup);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("WARNING \t: Failed to open image [splash.gif]\n"), std::string::npos) << result.out;
    EXPECT_TRUE(fs::exists(running));
}

TEST_F(Splash, WithoutADisplayTheRunGoesOnWithoutASplash) {
    if (target().windows) GTEST_SKIP() << "Wine itself needs the display";
    const fs::path setup = installer(picture.gif());
    scratch.write("unpacked", "");
    scratch.write("ran", "");
    Launch l = launch();
    RunResult result = l.unset("DISPLAY").set("KORVU_LOG_LEVEL", "DEBUG").arguments({"-console"}).run(setup);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("WARNING \t: Failed to CreateWindowEx \n"
                              "DEBUG \t: The splash window was not created (DISPLAY is not set)\n"),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(fs::exists(running));
}

// A PNG of one grey colour, whose pixels compress to almost nothing: a
// small file that costs width x height x 4 bytes once decoded.
std::string uniformPng(std::uint32_t width, std::uint32_t height) {
    auto bigEndian = [](std::uint32_t value) {
        return std::string{char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string typed = type + data;
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
        return bigEndian(static_cast<std::uint32_t>(data.size())) + typed + bigEndian(static_cast<std::uint32_t>(crc));
    };
    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    std::string row(1 + std::size_t{width} * 3, '\x80');
    row[0] = 0; // no filter
    std::string compressed;
    char out[65536];
    for (std::uint32_t y = 0; y <= height; ++y) {
        const bool last = y == height;
        stream.next_in = last ? nullptr : reinterpret_cast<Bytef*>(row.data());
        stream.avail_in = last ? 0 : static_cast<uInt>(row.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(out);
            stream.avail_out = sizeof out;
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(out, sizeof out - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    const std::string header = bigEndian(width) + bigEndian(height) + std::string{8, 2, 0, 0, 0};
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", compressed) + chunk("IEND", "");
}

TEST_F(Splash, APictureLargerThanTheScreenIsRefusedWithoutBeingDecoded) {
    if (target().windows) GTEST_SKIP() << "the memory of the Linux launcher";
    const fs::path setup = installer(uniformPng(4000, 4000));
    scratch.write("unpacked", "");
    scratch.write("ran", "");
    Launch l = launch();
    RunResult result = l.arguments({"-console"}).run(setup);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("WARNING \t: Failed to open image [splash.gif]\n"), std::string::npos) << result.out;
    EXPECT_TRUE(fs::exists(running));
    // Decoded, the picture alone would take 64 MB.
    EXPECT_LT(result.peakKilobytes, 40 * 1024);
}

// A launcher run that may hang: waited for at most the limit, then ended.
struct BoundedRun {
    bool ended = false;
    std::chrono::steady_clock::duration took{};
    RunResult result;
};

// meanwhile is called while it runs, every 20 ms.
BoundedRun runWithin(Launch& launch, const fs::path& setup, std::chrono::seconds limit,
                     const std::function<void()>& meanwhile = {}) {
    BoundedRun run;
    const auto begun = std::chrono::steady_clock::now();
    StartedProgram started = launch.start(setup);
    if (started.pid == 0) return run;
    while (!run.ended && std::chrono::steady_clock::now() - begun < limit) {
        std::this_thread::sleep_for(20ms);
        if (meanwhile) meanwhile();
        siginfo_t info{};
        run.ended = waitid(P_PID, static_cast<id_t>(started.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                    info.si_pid == started.pid;
    }
    run.took = std::chrono::steady_clock::now() - begun;
    if (!run.ended) kill(started.pid, SIGKILL);
    run.result = started.finish();
    return run;
}

double secondsOf(std::chrono::steady_clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

TEST_F(Splash, ADisplayThatNeverAnswersIsGivenUpWithinASecondOrSo) {
    if (target().windows) GTEST_SKIP() << "Wine itself needs the display";
    FakeXServer server(FakeXServer::SilentFrom::connection);
    ASSERT_TRUE(server.displayName()) << "no port above 6000 to listen on";
    const fs::path setup = installer(picture.gif());
    scratch.write("unpacked", "");
    scratch.write("ran", "");
    Launch l = launch();
    l.set("DISPLAY", *server.displayName()).arguments({"-console"});
    const BoundedRun run = runWithin(l, setup, 20s);
    ASSERT_TRUE(run.ended) << "the launcher waited for the display" << run.result.out;
    EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
    EXPECT_NE(run.result.out.find("WARNING \t: Failed to CreateWindowEx"), std::string::npos) << run.result.out;
    EXPECT_TRUE(fs::exists(running));
    // The whole run: about one second for the display, the rest is the run itself.
    EXPECT_LT(run.took, 6s);
}

// A server that answers the connection and later stops answering: the
// window is given up after 1.5 s, or, once it is up, left to hang alone.
TEST_F(Splash, ADisplayThatStopsAnsweringNeverHoldsUpTheInstallation) {
    if (target().windows) GTEST_SKIP() << "Wine itself needs the display";
    using SilentFrom = FakeXServer::SilentFrom;
    const struct {
        SilentFrom silentFrom;
        bool windowUp; // the window was shown before the server fell silent
    } cases[] = {{SilentFrom::never, true},         {SilentFrom::cursorFont, false},
                 {SilentFrom::createWindow, false}, {SilentFrom::fontLoad, false},
                 {SilentFrom::mapWindow, false},    {SilentFrom::destroyWindow, true}};
    const fs::path setup = installer(picture.gif());
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.silentFrom));
        fs::remove(running);
        fs::remove(ran);
        FakeXServer server(c.silentFrom);
        ASSERT_TRUE(server.displayName()) << "no port above 6000 to listen on";
        scratch.write("unpacked", "");
        Launch l = launch();
        l.set("DISPLAY", *server.displayName()).set("KORVU_LOG_LEVEL", "DEBUG").arguments({"-console"}).exitCode(7);
        // The installer ends once the server has fallen silent: a window
        // that was up is then closing on a server that no longer answers.
        const BoundedRun run = runWithin(l, setup, 10s, [&] {
            if (!fs::exists(ran) && (c.silentFrom == SilentFrom::never || server.fellSilent()))
                scratch.write("ran", "");
        });
        std::string requests;
        for (int opcode : server.requestsSeen()) requests += " " + std::to_string(opcode);
        std::cout << "[ measured ] " << describe(c.silentFrom) << ": "
                  << (run.ended ? std::to_string(secondsOf(run.took)) + " s" : "killed after 10 s") << std::endl;
        if (!run.ended) {
            ADD_FAILURE() << "the launcher waited for the display; requests:" << requests << "\n" << run.result.out;
            continue;
        }
        EXPECT_LT(run.took, 5s);
        EXPECT_EQ(run.result.exitCode, 7) << "not the installer's code\n" << run.result.err;
        EXPECT_TRUE(fs::exists(running));
        if (c.windowUp) {
            EXPECT_EQ(run.result.out.find("WARNING"), std::string::npos) << run.result.out;
        } else {
            EXPECT_NE(run.result.out.find("WARNING \t: Failed to CreateWindowEx \n"
                                          "DEBUG \t: The splash window was not created (the window system did not "
                                          "answer within 1500 ms)\n"),
                      std::string::npos)
                << run.result.out;
        }
    }
}

// A server that is only slow: the window it makes after the launcher gave
// up on it is given back without ever being mapped.
TEST_F(Splash, AWindowThatComesAfterTheLauncherGaveUpIsNeverShown) {
    if (target().windows) GTEST_SKIP() << "Wine itself needs the display";
    FakeXServer server(FakeXServer::SilentFrom::createWindow, 2500ms);
    ASSERT_TRUE(server.displayName()) << "no port above 6000 to listen on";
    const fs::path setup = installer(picture.gif());
    scratch.write("unpacked", "");
    Launch l = launch();
    l.set("DISPLAY", *server.displayName()).arguments({"-console"});
    // The installer runs until the late window is gone, or long enough for it.
    const auto begun = std::chrono::steady_clock::now();
    const BoundedRun run = runWithin(l, setup, 20s, [&] {
        if (!fs::exists(ran) && (server.sawDestroyWindow() || std::chrono::steady_clock::now() - begun > 8s))
            scratch.write("ran", "");
    });
    ASSERT_TRUE(run.ended) << run.result.out;
    EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
    EXPECT_NE(run.result.out.find("WARNING \t: Failed to CreateWindowEx \n"), std::string::npos) << run.result.out;
    EXPECT_TRUE(server.sawDestroyWindow()) << "the late window was not given back";
    EXPECT_FALSE(server.sawMapWindow()) << "the late window was shown";
}

// What only the window manager can tell: styles, size, and which messages
// close the window. The platform smoke test drives the Windows splash window.
TEST_F(Splash, WindowsSplashWindowIgnoresTheUsersCloseRequest) {
    if (!target().windows) GTEST_SKIP() << "the Windows window procedure";
    const fs::path smoke = fs::path(target().launcher).parent_path() / "talve_platform_smoke.exe";
    ASSERT_TRUE(fs::exists(smoke));
    Launch l = launch();
    std::vector<std::string> argv = target().runner;
    argv.insert(argv.end(), {smoke.string(), "splash-window"});
    RunResult result = runProgram(argv, l.environment, scratch.root());
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("ok   splash: WM_CLOSE (Alt+F4) leaves the window"), std::string::npos) << result.out;
}

TEST_F(Splash, NoSplashScreenOptionShowsNothing) {
    const fs::path setup = installer(picture.gif());
    Launch l = launch();
    l.arguments({"-noSplashScreen", "-console"});
    auto run = std::async(std::launch::async, [&] { return l.run(setup); });
    ASSERT_TRUE(waitForFile(unpacking));
    EXPECT_FALSE(showsPictureCorner(display->capture(), picture, windowX, windowY));
    scratch.write("unpacked", "");
    scratch.write("ran", "");
    RunResult result = run.get();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.find("splash screen."), std::string::npos) << result.out;
}

} // namespace
} // namespace e2e
