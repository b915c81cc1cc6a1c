#pragma once

// Key entry on a terminal and the random source, for the POSIX platform.

#include <cstddef>
#include <cstdint>

namespace talve {

void beginTerminalKeyEntry();
int readStandardInputByte();
void endTerminalKeyEntry();
bool systemRandomBytes(std::uint8_t* buffer, std::size_t size);

} // namespace talve
