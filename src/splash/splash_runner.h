#pragma once

#include "splash/runnable_object.h"

#include <memory>
#include <string>

namespace talve {

class Platform;
class flashScreen;

// Starts the splash thread when it is built. The thread owns the window
// and shares only its progress with the main thread: the runner can be
// destroyed while the thread lives on.
class SplashRunner : public RunnableObject {
public:
    SplashRunner(Platform& platform, const std::string& imagePath, const std::string& text,
                 const std::string& caption);
    // Asks the window to go away: a runner dropped after a failed run must
    // not leave "Unpacking data..." on the screen. The thread lives on.
    ~SplashRunner() override;
    SplashRunner(const SplashRunner&) = delete;
    SplashRunner& operator=(const SplashRunner&) = delete;

    // What the splash thread does: shows the window, then parks.
    void run() override;

    // Main thread: waits at least 500 ms, then until the window is up or
    // has failed, at most 1.5 s. 0 when it is up, 2 when it failed or the
    // window system did not answer in time (the window is then never shown).
    int waitForWindow();
    std::string getErrorMessage() const;
    // The system's reason behind that message, when it gave one.
    std::string getErrorDetail() const;
    // The window object, null until the splash thread has made it.
    flashScreen* screen() const;
    bool started() const;
    bool finished() const;

    struct Progress;

private:
    void requestClose();

    std::shared_ptr<Progress> progress_;
    bool gaveUp_ = false; // main thread only
};

} // namespace talve
