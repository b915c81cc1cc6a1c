#include "bootstrap/run_timestamp.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(RunTimestamp, WritesDayMonthYearAndTimeWithoutPadding) {
    EXPECT_EQ(runTimestamp(at(2026, 12, 7, 9, 5, 3)), "7-12-2026_9-5-3");
    EXPECT_EQ(runTimestamp(at(2026, 12, 7, 20, 15, 53)), "7-12-2026_20-15-53");
    EXPECT_EQ(runTimestamp(at(2027, 1, 1, 0, 0, 0)), "1-1-2027_0-0-0");
}

} // namespace
} // namespace talve
