#pragma once

#include "platform/platform.h"

#include <string>

namespace talve {
namespace posix {

// Platform::removeTree: descriptor-relative all the way down, so that a
// link met on the way, or one put in place of a directory while the walk
// runs, is removed as a link and never entered.
TreeRemoval removeTree(const std::string& dir);

} // namespace posix
} // namespace talve
