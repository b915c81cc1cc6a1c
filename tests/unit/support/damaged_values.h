#pragma once

// Every way an answers file's editor can damage a protected value without
// the key: characters changed, neighbours swapped, the end cut off, and the
// IV changed bit by bit, each also with its check character made right again
// so that only the MAC can tell.

#include <string>
#include <vector>

namespace talve {
namespace test {

std::vector<std::string> damagedValues(const std::string& value);
// A few of each kind, for runs of whole programs.
std::vector<std::string> sampleOfDamagedValues(const std::string& value);

} // namespace test
} // namespace talve
