#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <string>

namespace talve {

// One sentence naming the file and why it was not read, for the error line
// of whichever reader asked for it.
std::string fileReadProblem(const std::string& path, FileReadStatus status, std::size_t limit);

} // namespace talve
