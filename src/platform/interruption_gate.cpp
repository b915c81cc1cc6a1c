#include "platform/interruption_gate.h"

namespace talve {

void InterruptionGate::stopForGood(std::unique_lock<std::mutex>& lock) {
    ++stopped_;
    changed_.notify_all();
    for (;;) changed_.wait(lock);
}

InterruptionGate::ChildId InterruptionGate::startChild(const std::function<ChildId()>& start) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopsHere()) stopForGood(lock);
    // Started under the lock: the handler either sees this child or stops
    // this thread before it can start one.
    ChildId child = start();
    if (child != 0 && running_ == 0 && !(begun_ && std::this_thread::get_id() == handler_)) running_ = child;
    return child;
}

void InterruptionGate::childEnded(ChildId child) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (child == 0 || child != running_) return;
    running_ = 0;
    changed_.notify_all();
}

void InterruptionGate::close() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopsHere()) stopForGood(lock);
    closed_ = true;
}

bool InterruptionGate::begin() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (begun_ || closed_) return false;
    begun_ = true;
    handler_ = std::this_thread::get_id();
    return true;
}

void InterruptionGate::withRunningChild(const std::function<void(ChildId)>& act) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ != 0) act(running_);
}

bool InterruptionGate::waitForNoChild(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return running_ == 0; });
}

bool InterruptionGate::waitForOthersToStop(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return stopped_ > 0; });
}

bool InterruptionGate::interrupted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return begun_;
}

void runInterruption(InterruptionGate& gate, const InterruptionSteps& steps) {
    if (steps.passOn) gate.withRunningChild(steps.passOn);
    if (!gate.waitForNoChild(steps.childGrace)) {
        gate.withRunningChild(steps.stop);
        gate.waitForNoChild(steps.childGrace);
    }
    gate.waitForOthersToStop(steps.othersGrace);
    if (steps.cleanUp) steps.cleanUp();
}

} // namespace talve
