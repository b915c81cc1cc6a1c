#pragma once

#include <atomic>
#include <string>

namespace talve {

// A splash window driven from its own thread.
class flashScreen {
public:
    // Builds the window and runs its event loop on the calling thread.
    // Returns false at once, with errorMessage set, when the window cannot
    // be made; sets started once the window is visible. After a close
    // request it never returns: the thread stays parked.
    virtual bool show(std::string& errorMessage, std::atomic<bool>& started) = 0;
    // Any thread: replaces the line under the picture.
    virtual void setText(const std::string& text) = 0;
    // Any thread: the window goes away on the splash thread's next event.
    virtual void requestClose() = 0;
    // After show has failed: why, for the log's DEBUG level (may be empty).
    virtual std::string failureDetail() const { return std::string(); }
    virtual ~flashScreen() = default;
};

} // namespace talve
