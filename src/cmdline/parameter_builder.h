#pragma once

#include "cmdline/parameter_spec.h"

#include <string>
#include <vector>

namespace talve {

// Reads the parameters that an argument specification registers, in the
// order their closing lines are read. A block is registered by a closing
// line read while it is the block being filled; malformed texts therefore
// register what their lines happen to close, never fail, and report nothing.
std::vector<ParameterSpec> buildParameters(const std::string& specificationText);

} // namespace talve
