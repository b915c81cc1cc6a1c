#include "platform/system_threads.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>

namespace talve {

struct SystemLock::State {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};

SystemLock::SystemLock() : state_(std::make_unique<State>()) {}
SystemLock::~SystemLock() { pthread_mutex_destroy(&state_->mutex); }
void SystemLock::lock() { pthread_mutex_lock(&state_->mutex); }
void SystemLock::unlock() { pthread_mutex_unlock(&state_->mutex); }

struct SystemCondition::State {
    pthread_cond_t condition;
};

// The monotonic clock: a change of the wall clock must not stretch a wait.
SystemCondition::SystemCondition() : state_(std::make_unique<State>()) {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&state_->condition, &attributes);
    pthread_condattr_destroy(&attributes);
}

SystemCondition::~SystemCondition() { pthread_cond_destroy(&state_->condition); }

void SystemCondition::wait(SystemLock& lock) { pthread_cond_wait(&state_->condition, &lock.state_->mutex); }

void SystemCondition::waitAtMost(SystemLock& lock, std::chrono::milliseconds limit) {
    timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    const long long nanoseconds = until.tv_nsec + (limit.count() % 1000) * 1000000LL;
    until.tv_sec += static_cast<time_t>(limit.count() / 1000 + nanoseconds / 1000000000LL);
    until.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    pthread_cond_timedwait(&state_->condition, &lock.state_->mutex, &until);
}

void SystemCondition::notifyAll() { pthread_cond_broadcast(&state_->condition); }

std::uint64_t monotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

SystemThreadId currentThreadId() { return static_cast<SystemThreadId>(pthread_self()); }

namespace {
void* runBody(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return nullptr;
}
} // namespace

bool startDetachedThread(std::function<void()> body) {
    auto* owned = new std::function<void()>(std::move(body));
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, runBody, owned) == 0;
    pthread_attr_destroy(&attributes);
    if (!started) delete owned;
    return started;
}

void sleepFor(std::chrono::milliseconds duration) {
    timespec wanted{static_cast<time_t>(duration.count() / 1000), static_cast<long>(duration.count() % 1000) * 1000000L};
    while (nanosleep(&wanted, &wanted) != 0 && errno == EINTR) {
    }
}

} // namespace talve
