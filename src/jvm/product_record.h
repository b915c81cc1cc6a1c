#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace talve {

// Bytes, terminator included, of the line buffer a product record is read into.
constexpr std::size_t productRecordLineBuffer = 2048;

// The product home a product record names: its first line up to the line
// feed, nothing trimmed (a carriage return before the line feed stays).
// None when the record is empty, when its first line would not fit the line
// buffer (passed over whole rather than cut into a different path), or when
// that line holds a NUL byte, which no path can.
std::optional<std::string> productHomeOf(const std::string& record);

} // namespace talve
