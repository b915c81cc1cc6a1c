#pragma once

#include "platform/platform.h"

#include <string>

namespace talve {
namespace win32 {

// Platform::removeTree. A reparse point (junction, symbolic link, mount
// point) is removed as the entry it is, never entered: rmdir on a junction
// would otherwise empty the folder it leads to.
TreeRemoval removeTree(const std::string& dir);

} // namespace win32
} // namespace talve
