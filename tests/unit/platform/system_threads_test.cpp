#include "platform/system_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace talve {
namespace {

using namespace std::chrono_literals;

TEST(SystemThreads, AThreadRunsItsBodyAndAWaitEndsWhenItNotifies) {
    SystemLock lock;
    SystemCondition changed;
    bool done = false;
    SystemThreadId otherThread = 0;
    ASSERT_TRUE(startDetachedThread([&] {
        sleepFor(20ms);
        std::lock_guard<SystemLock> guard(lock);
        otherThread = currentThreadId();
        done = true;
        changed.notifyAll();
    }));
    std::lock_guard<SystemLock> guard(lock);
    EXPECT_TRUE(changed.waitFor(lock, 10s, [&] { return done; }));
    EXPECT_NE(otherThread, currentThreadId());
}

TEST(SystemThreads, AWaitForWhatNeverHappensEndsAtItsLimit) {
    SystemLock lock;
    SystemCondition changed;
    std::lock_guard<SystemLock> guard(lock);
    const std::uint64_t start = monotonicMilliseconds();
    EXPECT_FALSE(changed.waitFor(lock, 120ms, [] { return false; }));
    const std::uint64_t waited = monotonicMilliseconds() - start;
    EXPECT_GE(waited, 120u);
    EXPECT_LT(waited, 5000u);
    // A condition that already holds does not wait at all.
    EXPECT_TRUE(changed.waitFor(lock, 0ms, [] { return true; }));
}

} // namespace
} // namespace talve
