#pragma once

// Key entry at the console and the random source, for the Windows platform.

#include <cstddef>
#include <cstdint>

namespace talve {

void beginConsoleKeyEntry();
int readConsoleKeystroke();
bool systemRandomBytes(std::uint8_t* buffer, std::size_t size);

} // namespace talve
