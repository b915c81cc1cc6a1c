#include "bootstrap/run_timestamp.h"

namespace talve {

std::string runTimestamp(const std::tm& t) {
    return std::to_string(t.tm_mday) + "-" + std::to_string(t.tm_mon + 1) + "-" + std::to_string(t.tm_year + 1900) +
           "_" + std::to_string(t.tm_hour) + "-" + std::to_string(t.tm_min) + "-" + std::to_string(t.tm_sec);
}

std::string runTimestampNow() {
    std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return local == nullptr ? std::string("0-0-0_0-0-0") : runTimestamp(*local);
}

} // namespace talve
