#pragma once

namespace talve {

// "talve-pack runtime DIR -o FILE [--unpacker STUB]": packs a runtime
// folder into a self-extracting packed runtime and prints its unpacked size
// in bytes, the value `talve-pack create --runtime-size` takes. `argv` is
// talve-pack's own: argv[0] the program, argv[1] "runtime". Returns the
// process exit code: 0 done, 1 failed, 2 wrong arguments.
int runRuntimeCommand(int argc, char** argv);

} // namespace talve
