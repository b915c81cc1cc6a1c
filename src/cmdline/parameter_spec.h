#pragma once

#include <cstdint>
#include <limits>
#include <set>
#include <string>

namespace talve {

enum class ParameterType { Integer, NoValue, Boolean, String, Enumeration, Unknown };

// One parameter block of an argument specification. A field keeps its
// default when the block leaves the attribute out.
struct ParameterSpec {
    std::string name;
    bool optional = false;
    ParameterType type = ParameterType::Unknown;
    std::set<std::string> possibleValues;
    std::int32_t minValue = std::numeric_limits<std::int32_t>::min();
    std::int32_t maxValue = std::numeric_limits<std::int32_t>::max();
};

// Values stored for parameters that the command line gives no value for;
// the installer jar and the option pass test for these exact texts.
inline constexpr const char* noValueMarker = "__NO__VALUE__";
inline constexpr const char* notPresentMarker = "__NOT__PRESENT__";

} // namespace talve
