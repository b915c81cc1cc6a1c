#pragma once

#include <string>

namespace talve {
namespace posix {

// Platform::writableByOthers for POSIX modes, owners and access lists.
std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries);

} // namespace posix
} // namespace talve
