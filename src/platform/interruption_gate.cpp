#include "platform/interruption_gate.h"

#include <mutex>

namespace talve {

void InterruptionGate::stopForGood() {
    ++stopped_;
    changed_.notifyAll();
    for (;;) changed_.wait(mutex_);
}

InterruptionGate::ChildId InterruptionGate::startChild(const std::function<ChildId()>& start) {
    std::lock_guard<SystemLock> lock(mutex_);
    if (stopsHere()) stopForGood();
    // Started under the lock: the handler either sees this child or stops
    // this thread before it can start one.
    ChildId child = start();
    if (child != 0 && running_ == 0 && !(begun_ && currentThreadId() == handler_)) running_ = child;
    return child;
}

void InterruptionGate::childEnded(ChildId child) {
    std::lock_guard<SystemLock> lock(mutex_);
    if (child == 0 || child != running_) return;
    if (stopsHere()) {
        runningEnded_ = true;
        stopForGood();
    }
    running_ = 0;
    changed_.notifyAll();
}

void InterruptionGate::close() {
    std::lock_guard<SystemLock> lock(mutex_);
    if (stopsHere()) stopForGood();
    closed_ = true;
}

bool InterruptionGate::begin() {
    std::lock_guard<SystemLock> lock(mutex_);
    if (begun_ || closed_) return false;
    begun_ = true;
    handler_ = currentThreadId();
    return true;
}

void InterruptionGate::withRunningChild(const std::function<void(ChildId)>& act) {
    std::lock_guard<SystemLock> lock(mutex_);
    if (running_ != 0) act(running_);
}

bool InterruptionGate::waitForNoChild(std::chrono::milliseconds limit) {
    std::lock_guard<SystemLock> lock(mutex_);
    return changed_.waitFor(mutex_, limit, [this] { return running_ == 0 || runningEnded_; });
}

bool InterruptionGate::waitForOthersToStop(std::chrono::milliseconds limit) {
    std::lock_guard<SystemLock> lock(mutex_);
    return changed_.waitFor(mutex_, limit, [this] { return stopped_ > 0; });
}

bool InterruptionGate::interrupted() {
    std::lock_guard<SystemLock> lock(mutex_);
    return begun_;
}

void runInterruption(InterruptionGate& gate, const InterruptionSteps& steps) {
    if (steps.passOn) gate.withRunningChild(steps.passOn);
    const bool ended = gate.waitForNoChild(steps.childGrace);
    // Even once the child has ended, programs it started may still run; they
    // had the interruption as long as the child took to end.
    if (steps.stop) gate.withRunningChild(steps.stop);
    if (!ended) gate.waitForNoChild(steps.childGrace);
    gate.waitForOthersToStop(steps.othersGrace);
    if (steps.cleanUp) steps.cleanUp();
}

} // namespace talve
