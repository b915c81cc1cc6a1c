#pragma once

#include <string>

namespace talve {
namespace unpack {

// Paths are UTF-8 on every system.

// Unpacks the runtime archive appended to `packedFile` into `targetDir`,
// which must be missing or an empty folder. The whole archive is checked
// before the first file is written; data checksums are checked as each
// file is inflated. The tree is unpacked into a fresh folder beside
// `targetDir` and renamed into place when complete: on failure nothing of
// this run is left. `error` is then one line naming the file and the fault.
bool unpackRuntime(const std::string& packedFile, const std::string& targetDir, std::string& error);

// One line per entry: type letter (d, f, x for executable files, l), the
// unpacked size, the path and, for links, " -> " and the target.
bool listRuntime(const std::string& packedFile, std::string& listing, std::string& error);

} // namespace unpack
} // namespace talve
