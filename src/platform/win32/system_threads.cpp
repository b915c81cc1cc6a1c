#include "platform/system_threads.h"

#include <windows.h>

namespace talve {

struct SystemLock::State {
    CRITICAL_SECTION section;
};

SystemLock::SystemLock() : state_(std::make_unique<State>()) { InitializeCriticalSection(&state_->section); }
SystemLock::~SystemLock() { DeleteCriticalSection(&state_->section); }
void SystemLock::lock() { EnterCriticalSection(&state_->section); }
void SystemLock::unlock() { LeaveCriticalSection(&state_->section); }

struct SystemCondition::State {
    CONDITION_VARIABLE condition;
};

SystemCondition::SystemCondition() : state_(std::make_unique<State>()) {
    InitializeConditionVariable(&state_->condition);
}

SystemCondition::~SystemCondition() = default;

void SystemCondition::wait(SystemLock& lock) {
    SleepConditionVariableCS(&state_->condition, &lock.state_->section, INFINITE);
}

void SystemCondition::waitAtMost(SystemLock& lock, std::chrono::milliseconds limit) {
    const DWORD milliseconds = limit.count() >= static_cast<long long>(INFINITE) ? INFINITE - 1
                                                                                 : static_cast<DWORD>(limit.count());
    SleepConditionVariableCS(&state_->condition, &lock.state_->section, milliseconds);
}

void SystemCondition::notifyAll() { WakeAllConditionVariable(&state_->condition); }

std::uint64_t monotonicMilliseconds() { return GetTickCount64(); }

SystemThreadId currentThreadId() { return static_cast<SystemThreadId>(GetCurrentThreadId()); }

namespace {
DWORD WINAPI runBody(LPVOID argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return 0;
}
} // namespace

bool startDetachedThread(std::function<void()> body) {
    auto* owned = new std::function<void()>(std::move(body));
    HANDLE thread = CreateThread(nullptr, 0, runBody, owned, 0, nullptr);
    if (thread == nullptr) {
        delete owned;
        return false;
    }
    CloseHandle(thread);
    return true;
}

void sleepFor(std::chrono::milliseconds duration) { Sleep(static_cast<DWORD>(duration.count())); }

} // namespace talve
