#pragma once

#include <string>

namespace talve {
namespace pack {

// Why the launcher could not take `name` as a payload's stored name (too
// long, holding a control character, no plain file name); empty when it can.
std::string storedNameProblem(const std::string& name);

// Whether two stored names would land on the same file in the run's
// directory: Windows does not tell case apart.
bool sameStoredName(const std::string& a, const std::string& b);

} // namespace pack
} // namespace talve
