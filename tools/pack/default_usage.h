#pragma once

namespace talve {
namespace pack {

// Printed by -help when the installer carries no usage text of its own. It
// names no program: the file may be renamed, and runs on either system.
inline constexpr const char* defaultUsage =
    "USAGE : <installer> [-console] [-tempdir <dirName>] [-silent silentFile | -record recordFile [-key [<key>]] ]\n";

} // namespace pack
} // namespace talve
