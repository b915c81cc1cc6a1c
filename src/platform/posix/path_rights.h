#pragma once

#include <string>

namespace talve {
namespace posix {

// Platform::writableByOthers for POSIX modes, owners and access lists.
std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries);
// Platform::treeWritableByOthers by the same rule.
std::string treeWritableByOthers(const std::string& root);

} // namespace posix
} // namespace talve
