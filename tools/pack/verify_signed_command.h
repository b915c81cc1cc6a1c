#pragma once

namespace talve {
namespace pack {

// talve-pack verify-signed UNSIGNED SIGNED: 0 when SIGNED is UNSIGNED plus a
// signature, 1 when not, 2 on wrong arguments.
int runVerifySignedCommand(int argc, char** argv);

} // namespace pack
} // namespace talve
