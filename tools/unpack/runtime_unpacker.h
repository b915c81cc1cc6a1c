#pragma once

#include <filesystem>
#include <string>

namespace talve {
namespace unpack {

// Unpacks the runtime archive appended to `packedFile` into `targetDir`,
// which is created when missing. The whole archive is checked before the
// first file is written; data checksums are checked as each file is
// inflated, and a file found damaged is removed again. On failure `error`
// is one line naming the file and the fault.
bool unpackRuntime(const std::filesystem::path& packedFile,
                   const std::filesystem::path& targetDir, std::string& error);

// One line per entry: type letter (d, f, x for executable files, l), the
// unpacked size, the path and, for links, " -> " and the target.
bool listRuntime(const std::filesystem::path& packedFile, std::string& listing,
                 std::string& error);

} // namespace unpack
} // namespace talve
