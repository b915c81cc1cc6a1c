#include "splash/window_flash_screen.h"

#include "platform/splash_window.h"

#include <chrono>
#include <mutex>

namespace talve {

namespace {
// The splash thread has nothing left to do once its window is gone, and
// ending it would leave the main thread's view of it dangling.
[[noreturn]] void parkForever() {
    for (;;) sleepFor(std::chrono::seconds(10));
}
} // namespace

WindowFlashScreen::WindowFlashScreen(std::unique_ptr<SplashWindow> window, std::atomic<int>& splashStatus,
                                     const std::string& imagePath, const std::string& text,
                                     const std::string& caption)
    : window_(std::move(window)), splashStatus_(splashStatus), imagePath_(imagePath), text_(text), caption_(caption) {}

WindowFlashScreen::~WindowFlashScreen() = default;

bool WindowFlashScreen::show(std::string& errorMessage, std::atomic<bool>& started) {
    if (!window_->loadImage(imagePath_)) return fail(errorMessage, "Failed to open image [" + imagePath_ + "]");
    if (!window_->registerClass()) return fail(errorMessage, "Failed to RegisterClass: ");
    std::string reason;
    if (!window_->createWindow(caption_, [this] { return currentText(); }, reason)) {
        // The warning's text is fixed; the system's reason goes to its own line.
        failureDetail_ = reason;
        return fail(errorMessage, windowNotCreatedWarning);
    }
    // The main thread may have given up on a window system that answered
    // too late: such a window is never shown.
    if (closeIsRequested()) closeAndPark();
    window_->present();
    windowUp_ = true;
    started = true;

    do {
        if (closeIsRequested()) closeAndPark();
    } while (window_->handleNextEvent());
    window_->close();
    return true;
}

void WindowFlashScreen::closeAndPark() {
    window_->close();
    parkForever();
}

bool WindowFlashScreen::fail(std::string& errorMessage, const std::string& message) {
    // Whatever was started before the failing step is given back at once.
    window_->close();
    errorMessage = message;
    splashStatus_ = 2;
    return false;
}

void WindowFlashScreen::setText(const std::string& text) {
    {
        std::lock_guard<SystemLock> guard(lock_);
        text_ = text;
    }
    if (windowUp_) window_->wake();
}

void WindowFlashScreen::requestClose() {
    {
        std::lock_guard<SystemLock> guard(lock_);
        closeRequested_ = true;
    }
    // Without a window there is no loop to wake; the flag alone is enough.
    if (windowUp_) window_->wake();
}

std::string WindowFlashScreen::currentText() {
    std::lock_guard<SystemLock> guard(lock_);
    return text_;
}

bool WindowFlashScreen::closeIsRequested() {
    std::lock_guard<SystemLock> guard(lock_);
    return closeRequested_;
}

} // namespace talve
