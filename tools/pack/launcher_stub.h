#pragma once

#include <cstddef>
#include <string>

namespace talve {
namespace pack {

// The smallest launcher that can be real: the Windows launcher, the
// smaller of the two, is several times larger. Anything below is a wrong
// or broken file that would make a useless installer.
constexpr std::size_t kMinLauncherSize = 64 * 1024;

// Checks that `bytes` are a program a system can start: an ELF executable
// (a position-independent one included) or a PE image that is not a DLL,
// of at least kMinLauncherSize bytes. `problem` says what is wrong.
bool checkLauncherStub(const std::string& bytes, std::string& problem);

} // namespace pack
} // namespace talve
