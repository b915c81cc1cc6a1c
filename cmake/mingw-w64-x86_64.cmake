# Cross toolchain for the same Windows programs as 64-bit executables
# (x86_64-w64-mingw32). They do not ship: the tests run them under a 64-bit
# Wine on machines whose kernel cannot start 32-bit programs, and so cannot
# start the Wine that runs the shipped 32-bit launcher.
#
#     cmake --preset windows64 && cmake --build --preset windows64
#
# Debian packages: mingw-w64 and wine64.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TALVE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
