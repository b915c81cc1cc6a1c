#pragma once

#include "platform/system_threads.h"
#include "splash/flash_screen.h"

#include <atomic>
#include <memory>
#include <string>

namespace talve {

class SplashWindow;

// The warning of a window that could not be made, whatever the reason.
inline constexpr char windowNotCreatedWarning[] = "Failed to CreateWindowEx ";

// The splash window's state and the order of its steps; the window system
// itself is behind SplashWindow. Failures set splashStatus to 2.
class WindowFlashScreen : public flashScreen {
public:
    WindowFlashScreen(std::unique_ptr<SplashWindow> window, std::atomic<int>& splashStatus,
                      const std::string& imagePath, const std::string& text, const std::string& caption);
    ~WindowFlashScreen() override;
    WindowFlashScreen(const WindowFlashScreen&) = delete;
    WindowFlashScreen& operator=(const WindowFlashScreen&) = delete;

    bool show(std::string& errorMessage, std::atomic<bool>& started) override;
    void setText(const std::string& text) override;
    void requestClose() override;
    std::string failureDetail() const override { return failureDetail_; }

private:
    bool fail(std::string& errorMessage, const std::string& message);
    std::string currentText();
    bool closeIsRequested();
    [[noreturn]] void closeAndPark();

    std::unique_ptr<SplashWindow> window_;
    std::atomic<int>& splashStatus_;
    std::string imagePath_;
    std::string text_;
    std::string caption_;
    std::string failureDetail_; // written before show returns false
    bool closeRequested_ = false;
    std::atomic<bool> windowUp_{false};
    SystemLock lock_; // guards text_ and closeRequested_
};

} // namespace talve
