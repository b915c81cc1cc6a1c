#pragma once

namespace talve {
namespace pack {

// talve-pack create: the launcher stub, padding, marker, table and payloads.
int runCreateCommand(int argc, char** argv);

} // namespace pack
} // namespace talve
