#include "platform/system_threads.h"

namespace talve {

bool SystemCondition::waitFor(SystemLock& lock, std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const std::uint64_t deadline = monotonicMilliseconds() + static_cast<std::uint64_t>(limit.count());
    while (!done()) {
        const std::uint64_t now = monotonicMilliseconds();
        if (now >= deadline) return false;
        waitAtMost(lock, std::chrono::milliseconds(deadline - now));
    }
    return true;
}

} // namespace talve
