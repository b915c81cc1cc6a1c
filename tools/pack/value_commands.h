#pragma once

namespace talve {
namespace pack {

// talve-pack encrypt / decrypt: protected property values for silent and
// record files, made and read the way the launcher and installer jars do.
int runEncryptCommand(int argc, char** argv);
int runDecryptCommand(int argc, char** argv);
// talve-pack check-silent: the launcher's own check of a silent file.
int runCheckSilentCommand(int argc, char** argv);

} // namespace pack
} // namespace talve
