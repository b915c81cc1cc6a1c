#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace talve {
namespace files {

// The file operations of talve-pack that differ between systems;
// writer_files_posix.cpp or writer_files_win32.cpp is chosen by CMake.

// Creates `path` as a new program file open for writing. Fails when
// anything already has that name: a link planted there is neither followed
// nor replaced. `exists` tells that case from the others.
std::FILE* createNewFile(const std::filesystem::path& path, bool& exists, std::string& problem);

// Puts `source` in the place of `target` in one step; what `target` named
// before, a link included, is replaced, never written through.
bool replaceFile(const std::filesystem::path& source, const std::filesystem::path& target,
                 std::string& problem);

// Opens `path` for reading only when it is a regular file (links are
// followed). A folder, a device or a pipe is refused without blocking on it.
std::FILE* openRegularFile(const std::filesystem::path& path, std::uint64_t& size,
                           std::string& problem);

// Offsets beyond 2 GiB, where the C library's long is 32 bits wide.
bool seekFile(std::FILE* file, std::uint64_t offset);
bool tellFile(std::FILE* file, std::uint64_t& offset);

} // namespace files
} // namespace talve
