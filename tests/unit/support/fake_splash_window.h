#pragma once

#include "platform/splash_window.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace talve {
namespace test {

// What the fake splash windows of one test do and what happened to them.
// Shared by the test (main thread) and the splash thread, hence the lock.
class FakeSplashScene {
public:
    // --- scripted ------------------------------------------------------------
    bool imageLoads = true;
    bool classRegisters = true;
    bool windowCreates = true;
    std::string createFailureReason;
    // "load" or "create": that step waits, as for a window system that
    // stopped answering, until release() is called.
    std::string holdAt;

    // --- what happened ---------------------------------------------------------
    int windowsMade = 0;              // createSplashWindow calls
    std::vector<std::string> steps;   // "load splash.gif", "register", "create TALVE Installer", "present", "close"
    std::vector<std::string> painted; // the text at each repaint
    bool visible = false;

    // Waits, at most the given time, until the condition holds under the lock.
    bool waitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    std::vector<std::string> stepsSoFar();
    std::vector<std::string> paintedSoFar();
    bool isVisible();
    // Applies a change under the lock and tells the waiters.
    void record(const std::function<void()>& change);
    void release();

private:
    friend class FakeSplashWindow;

    std::mutex mutex_;
    // Called by the window at each step that may be held.
    void holdIfAsked(const std::string& step);

    std::condition_variable changed_;
    int wakeUps_ = 0;
    bool released_ = false;
};

// A SplashWindow that draws nothing: it records its steps in the scene and
// wakes from handleNextEvent only when wake() is called.
class FakeSplashWindow : public SplashWindow {
public:
    explicit FakeSplashWindow(std::shared_ptr<FakeSplashScene> scene) : scene_(std::move(scene)) {}

    bool loadImage(const std::string& path) override;
    bool registerClass() override;
    bool createWindow(const std::string& caption, std::function<std::string()> text, std::string& reason) override;
    void present() override;
    bool handleNextEvent() override;
    void wake() override;
    void close() override;

private:
    std::shared_ptr<FakeSplashScene> scene_;
    std::function<std::string()> text_;
    int wakeUpsSeen_ = 0;
};

} // namespace test
} // namespace talve
