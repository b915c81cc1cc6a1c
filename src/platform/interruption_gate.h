#pragma once

// Only operating-system independent code here: both platform implementations
// order their interruption handler against the rest of the process with it.

#include "platform/system_threads.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace talve {

// An interruption (Ctrl-C and its kin) is handled on a thread of its own
// while the main thread goes on with the run. Once the handler has begun it
// owns the run: any other thread that then tries to start a child process or
// to exit stops there for good, because the handler is about to clean up and
// end the process. The one child the main thread waits for is known here, so
// that the handler can pass the interruption on to it and wait for its end.
// A child is a process group (a job object on Windows): the program the
// launcher started and whatever that program starts in turn.
class InterruptionGate {
public:
    // A process id or process handle, 0 for none.
    using ChildId = std::intptr_t;

    // --- any thread ----------------------------------------------------------
    // Runs start (which starts a child and returns its id, 0 on failure) and
    // remembers the child, unless an interruption is under way on another
    // thread: the caller then stops for good. The handler's own children are
    // not remembered.
    ChildId startChild(const std::function<ChildId()>& start);
    // The child has ended; to be called before its id goes back to the system.
    // During an interruption the caller stops here for good, with the id
    // still its own, so that the handler can still stop what the child left
    // running under that id.
    void childEnded(ChildId child);
    // The process is exiting normally: interruptions from now on are ignored.
    // A caller other than the handler stops for good when one is under way.
    void close();

    // --- the handler thread --------------------------------------------------
    // Makes the calling thread the handler; false when the process is exiting
    // or an interruption is already being handled (the event is then ignored).
    bool begin();
    // Calls act with the running child, which cannot end meanwhile, or with
    // the one that ended during the interruption; nothing happens when none runs.
    void withRunningChild(const std::function<void(ChildId)>& act);
    // True when no child runs (or it has ended), at once or within the limit.
    bool waitForNoChild(std::chrono::milliseconds limit);
    // Gives the other threads up to the limit to stop at their next step, so
    // that the handler cleans up alone; true when one did.
    bool waitForOthersToStop(std::chrono::milliseconds limit);

    bool interrupted();

private:
    bool stopsHere() const { return begun_ && currentThreadId() != handler_; }
    // With the lock held.
    [[noreturn]] void stopForGood();

    SystemLock mutex_;
    SystemCondition changed_;
    ChildId running_ = 0;
    bool runningEnded_ = false;
    bool begun_ = false;
    bool closed_ = false;
    int stopped_ = 0;
    SystemThreadId handler_ = 0;
};

// What an interruption handler does once it has begun: passes the
// interruption on to the running child and gives it a moment to end, then
// stops it and whatever it started for good (an installer or a helper left
// running would hold files in the directory about to be removed), lets the
// main thread stop, and then runs the clean-up. The caller ends the process
// afterwards.
struct InterruptionSteps {
    std::function<void(InterruptionGate::ChildId)> passOn;
    std::function<void(InterruptionGate::ChildId)> stop;
    std::function<void()> cleanUp;
    std::chrono::milliseconds childGrace{5000};
    std::chrono::milliseconds othersGrace{2000};
};
void runInterruption(InterruptionGate& gate, const InterruptionSteps& steps);

} // namespace talve
