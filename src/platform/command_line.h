#pragma once

#include <string>
#include <vector>

namespace talve {

// Command lines are texts, as on Windows, where the child parses its own
// line. These two functions follow the Windows C runtime's rules so that a
// text composed here means the same on every system: blanks separate,
// double quotes group, and backslashes escape a quote only when they stand
// right before one (2n backslashes + quote: n backslashes and a group
// boundary; 2n+1: n backslashes and a literal quote).
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// Encloses one argument in double quotes so that splitCommandLine gives it
// back unchanged, blanks, quotes and trailing backslashes included. For an
// ordinary path this is simply the path between two quotes.
std::string quoteArgument(const std::string& argument);

} // namespace talve
