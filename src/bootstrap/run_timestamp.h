#pragma once

#include <ctime>
#include <string>

namespace talve {

// day-month-year_hour-minute-second in plain decimal, e.g. 7-12-2026_9-5-3:
// it makes the names of a run's log and communication files unique.
std::string runTimestamp(const std::tm& localTime);
std::string runTimestampNow();

} // namespace talve
