#pragma once

namespace talve {
namespace pack {

// talve-pack list: the eight rows of an installer's table.
int runListCommand(int argc, char** argv);

} // namespace pack
} // namespace talve
