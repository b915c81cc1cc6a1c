#include "splash/splash_runner.h"

#include "platform/platform.h"
#include "platform/splash_window.h"
#include "platform/system_threads.h"
#include "splash/window_flash_screen.h"

#include <atomic>
#include <chrono>

namespace talve {

// Everything the splash thread touches. It holds its own reference, so
// the runner's destruction leaves the thread with valid state.
struct SplashRunner::Progress {
    Progress(std::unique_ptr<SplashWindow> window, const std::string& imagePath, const std::string& text,
             const std::string& caption)
        : window(std::move(window)), imagePath(imagePath), text(text), caption(caption) {}

    std::unique_ptr<SplashWindow> window; // until the splash thread takes it
    std::string imagePath, text, caption;
    std::unique_ptr<flashScreen> ownedScreen;
    std::atomic<flashScreen*> screen{nullptr};
    std::string errorMessage; // written before finished, read after it
    std::atomic<int> splashStatus{0};
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
};

namespace {

using Progress = SplashRunner::Progress;

void runSplash(Progress& progress) {
    progress.ownedScreen = std::make_unique<WindowFlashScreen>(std::move(progress.window),
                                                               progress.splashStatus, progress.imagePath,
                                                               progress.text, progress.caption);
    progress.screen = progress.ownedScreen.get();
    progress.ownedScreen->show(progress.errorMessage, progress.started);
    progress.finished = true;
    for (;;) sleepFor(std::chrono::seconds(100));
}

} // namespace

SplashRunner::SplashRunner(Platform& platform, const std::string& imagePath, const std::string& text,
                           const std::string& caption)
    : progress_(std::make_shared<Progress>(platform.createSplashWindow(), imagePath, text, caption)) {
    if (!startDetachedThread([progress = progress_] { runSplash(*progress); })) {
        // Without a thread there is no splash; the installation goes on.
        progress_->errorMessage = "Failed to start the splash screen thread";
        progress_->splashStatus = 2;
        progress_->finished = true;
    }
}

SplashRunner::~SplashRunner() {
    if (flashScreen* window = screen()) window->requestClose();
}

void SplashRunner::run() { runSplash(*progress_); }

int SplashRunner::waitForWindow() {
    do {
        sleepFor(std::chrono::milliseconds(500));
    } while (!started() && !finished());
    return progress_->splashStatus;
}

std::string SplashRunner::getErrorMessage() const {
    // Written by the splash thread before it sets finished, never after.
    return finished() ? progress_->errorMessage : std::string();
}

std::string SplashRunner::getErrorDetail() const {
    flashScreen* window = finished() ? screen() : nullptr;
    return window != nullptr ? window->failureDetail() : std::string();
}

flashScreen* SplashRunner::screen() const { return progress_->screen; }
bool SplashRunner::started() const { return progress_->started; }
bool SplashRunner::finished() const { return progress_->finished; }

} // namespace talve
