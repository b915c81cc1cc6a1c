#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the Linux launcher
# and tools and, when the MinGW-w64 toolchain is there, the 32-bit Windows
# launcher, then runs every unit and end-to-end test (those of the Windows
# launcher under Wine, or of its 64-bit build under a 64-bit Wine where
# 32-bit programs cannot start). Then the same suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, with every fuzz target run for a few seconds.
# Between the two, the shipped programs are built twice from copies of the
# checkout in other folders and compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

if command -v i686-w64-mingw32-g++ >/dev/null 2>&1 && [ -f cmake/mingw-w64-i686.cmake ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows
  # Where the kernel cannot start 32-bit programs, Wine cannot run the
  # shipped launcher: the Wine tests then run its 64-bit build.
  if ! wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
    cmake --preset windows64 >/dev/null
    cmake --build --preset windows64
  fi
fi
cmake --preset linux >/dev/null
cmake --build --preset linux
ctest --preset linux

# Two builds of the shipped programs in two folders must be identical.
scripts/check-reproducible.sh

cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan
ctest --preset linux-asan
