#include "splash/splash_runner.h"

#include "platform/platform.h"
#include "platform/splash_window.h"
#include "platform/system_threads.h"
#include "splash/window_flash_screen.h"

#include <atomic>
#include <chrono>
#include <string>

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
    // Set by the main thread when it no longer wants the window, possibly
    // before the splash thread has made its screen.
    std::atomic<bool> closeWanted{false};
};

namespace {

using Progress = SplashRunner::Progress;

constexpr std::chrono::milliseconds windowPoll{500};
// The splash must never hold up the installation: a window system that
// has not made the window by then (a server that stopped answering, a dead
// forwarding) is given up, as a window that could not be made.
constexpr std::chrono::milliseconds windowLimit{1500};

void runSplash(Progress& progress) {
    progress.ownedScreen = std::make_unique<WindowFlashScreen>(std::move(progress.window),
                                                               progress.splashStatus, progress.imagePath,
                                                               progress.text, progress.caption);
    progress.screen = progress.ownedScreen.get();
    // The main thread asks the screen once it sees it; a request made
    // before then is passed on here.
    if (progress.closeWanted) progress.ownedScreen->requestClose();
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

SplashRunner::~SplashRunner() { requestClose(); }

void SplashRunner::run() { runSplash(*progress_); }

int SplashRunner::waitForWindow() {
    std::chrono::milliseconds waited{0};
    do {
        sleepFor(windowPoll);
        waited += windowPoll;
    } while (!started() && !finished() && waited < windowLimit);
    if (started() || finished()) return progress_->splashStatus;
    // The thread is left where it hangs; should its window come after all,
    // it goes away before it is shown.
    gaveUp_ = true;
    requestClose();
    return 2;
}

std::string SplashRunner::getErrorMessage() const {
    if (gaveUp_) return windowNotCreatedWarning;
    // Written by the splash thread before it sets finished, never after.
    return finished() ? progress_->errorMessage : std::string();
}

std::string SplashRunner::getErrorDetail() const {
    if (gaveUp_)
        return "(the window system did not answer within " + std::to_string(windowLimit.count()) + " ms)";
    flashScreen* window = finished() ? screen() : nullptr;
    return window != nullptr ? window->failureDetail() : std::string();
}

void SplashRunner::requestClose() {
    // Both sides look at the other's flag after setting their own: one of
    // them at least passes the request to the screen.
    progress_->closeWanted = true;
    if (flashScreen* window = screen()) window->requestClose();
}

flashScreen* SplashRunner::screen() const { return progress_->screen; }
bool SplashRunner::started() const { return progress_->started; }
bool SplashRunner::finished() const { return progress_->finished; }

} // namespace talve
