#pragma once

// Threads, locks and waits of the system itself. The C++ library's own
// (std::thread, std::mutex, std::condition_variable) would bring a whole
// POSIX-threads emulation and the library's exception classes into the static
// Windows launcher that every installer carries.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace talve {

// Usable with std::lock_guard.
class SystemLock {
public:
    SystemLock();
    ~SystemLock();
    SystemLock(const SystemLock&) = delete;
    SystemLock& operator=(const SystemLock&) = delete;
    void lock();
    void unlock();

    struct State;

private:
    friend class SystemCondition;
    std::unique_ptr<State> state_;
};

class SystemCondition {
public:
    SystemCondition();
    ~SystemCondition();
    SystemCondition(const SystemCondition&) = delete;
    SystemCondition& operator=(const SystemCondition&) = delete;
    // With lock held: until notified (or woken for no reason).
    void wait(SystemLock& lock);
    // With lock held: until done() holds, true, or the limit has passed, false.
    bool waitFor(SystemLock& lock, std::chrono::milliseconds limit, const std::function<bool()>& done);
    void notifyAll();

    struct State;

private:
    // With lock held: until notified, woken, or the limit has passed.
    void waitAtMost(SystemLock& lock, std::chrono::milliseconds limit);
    std::unique_ptr<State> state_;
};

// Milliseconds from a fixed point in the past, never set back.
std::uint64_t monotonicMilliseconds();

using SystemThreadId = std::uintptr_t;
SystemThreadId currentThreadId();
// Runs body on a new thread that nobody joins; false when none could be made.
bool startDetachedThread(std::function<void()> body);
void sleepFor(std::chrono::milliseconds duration);

} // namespace talve
