#pragma once

#include <cstdio>
#include <filesystem>

namespace talve {
namespace unpack {

// The only operations that differ between systems; native_posix.cpp or
// native_win32.cpp is chosen by CMake.

// The path of the running executable, empty when the system cannot say.
std::filesystem::path ownExecutablePath();

// fopen for a std::filesystem path, so names outside the ANSI code page
// work on Windows too.
std::FILE* openFile(const std::filesystem::path& path, const char* mode);

// Directory operations that report through errno and never follow a link
// at the last name: a new folder (fails when the name is taken), a rename
// that does not replace a non-empty folder, and removal of an empty one.
bool makeNewDirectory(const std::filesystem::path& path);
bool renameDirectory(const std::filesystem::path& from, const std::filesystem::path& to);
bool removeEmptyDirectory(const std::filesystem::path& path);

// Whether `path` is a folder with nothing in it.
bool isEmptyDirectory(const std::filesystem::path& path);
// Removes a folder with everything in it; links inside are removed
// themselves, never followed.
bool removeTree(const std::filesystem::path& path);

} // namespace unpack
} // namespace talve
