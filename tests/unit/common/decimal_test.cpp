#include "common/decimal.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

TEST(ParseDecimal, ReadsLikeStrtolUpToTheFirstNonDigit) {
    EXPECT_EQ(parseDecimal("25"), 25);
    EXPECT_EQ(parseDecimal("  \t-7x"), -7);
    EXPECT_EQ(parseDecimal("+5"), 5);
    EXPECT_EQ(parseDecimal("12x"), 12);
    EXPECT_EQ(parseDecimal("abc"), 0);
    EXPECT_EQ(parseDecimal(""), 0);
    EXPECT_EQ(parseDecimal("-"), 0);
    EXPECT_EQ(parseDecimal("0x10"), 0);
}

TEST(ParseDecimal, ClampsToThe32BitRange) {
    EXPECT_EQ(parseDecimal("2147483647"), 2147483647);
    EXPECT_EQ(parseDecimal("2147483648"), 2147483647);
    EXPECT_EQ(parseDecimal("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(parseDecimal("-99999999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(parseDecimal("99999999999999999999999"), 2147483647);
}

} // namespace
} // namespace talve
