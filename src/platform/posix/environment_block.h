#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace talve {
namespace posix {

// Platform::putEnvironmentAll: the environment is rebuilt once, with a new
// array for environ, instead of one setenv (a search of the whole
// environment, and a reallocation) per variable.
int putEnvironmentAll(const std::vector<std::string>& assignments);

// Platform::startRoom, by the rule Linux applies in execve: strings with
// their terminators and one pointer each, within a quarter of the stack
// limit, at most 6 MiB and never less than 128 KiB.
StartRoom startRoom();

} // namespace posix
} // namespace talve
