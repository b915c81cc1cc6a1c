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

} // namespace unpack
} // namespace talve
