#pragma once

#include <cstdint>
#include <string>

namespace talve {

// Reads a decimal integer the way strtol with base 10 does: leading white
// space, an optional sign, then digits up to the first non-digit. Text
// without digits gives 0; values beyond 32 bits are clamped to the int32
// range. Installer files and specifications rely on exactly this leniency.
std::int32_t parseDecimal(const std::string& text);

} // namespace talve
