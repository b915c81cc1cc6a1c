# Cross toolchain for the 32-bit Windows console launcher, built on Linux with
# MinGW-w64 (target triple i686-w64-mingw32).
#
# Use it through the preset:
#     cmake --preset windows && cmake --build --preset windows
# or directly:
#     cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#
# Debian packages: mingw-w64 (compiler, binutils, windres) and
# libz-mingw-w64-dev (zlib for talve-unpack). The executables it makes run
# under Wine (packages wine and, from the i386 architecture, wine32:i386).
#
# The executables are linked statically (libgcc, libstdc++, winpthread), so
# they need no DLL beyond those Windows itself carries: an elevated installer
# must not load anything from the downloads folder it was started from.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TALVE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
