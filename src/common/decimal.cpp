#include "common/decimal.h"

#include <limits>

namespace talve {

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
} // namespace

std::int32_t parseDecimal(const std::string& text) {
    constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t highest = std::numeric_limits<std::int32_t>::max();

    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > highest + 1) magnitude = highest + 1; // saturate, the clamp below decides
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value < lowest) return static_cast<std::int32_t>(lowest);
    if (value > highest) return static_cast<std::int32_t>(highest);
    return static_cast<std::int32_t>(value);
}

} // namespace talve
