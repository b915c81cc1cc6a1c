#pragma once

#include <string>

namespace talve {
namespace pack {

// Appends to an argument specification a block for each of the launcher's
// own options it does not declare, so that an author lists only the
// installer's own parameters. False with `problem` when the text keeps the
// added blocks from being read (the launcher stops at a line of no known
// form where no block is being read, and at a NUL byte).
bool addLauncherOptions(std::string& specification, std::string& problem);

} // namespace pack
} // namespace talve
