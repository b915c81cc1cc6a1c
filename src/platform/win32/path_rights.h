#pragma once

#include <string>

namespace talve {
namespace win32 {

// Platform::runsElevated and Platform::writableByOthers for Windows tokens,
// owners and access lists.
bool runsElevated();
std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries);
std::string treeWritableByOthers(const std::string& root);

} // namespace win32
} // namespace talve
