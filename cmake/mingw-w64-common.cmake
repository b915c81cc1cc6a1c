# The part of the MinGW-w64 cross toolchains that does not depend on the
# target: included by mingw-w64-i686.cmake and mingw-w64-x86_64.cmake once
# they have set TALVE_MINGW_TRIPLE.

# The posix thread model gives std::thread and std::mutex to the portable
# code; the win32 model of GCC 12 lacks them. Plain names are the fallback for
# distributions that ship one variant only.
find_program(TALVE_MINGW_CXX
  NAMES ${TALVE_MINGW_TRIPLE}-g++-posix ${TALVE_MINGW_TRIPLE}-g++
  DOC "C++ compiler for ${TALVE_MINGW_TRIPLE}")
find_program(TALVE_MINGW_CC
  NAMES ${TALVE_MINGW_TRIPLE}-gcc-posix ${TALVE_MINGW_TRIPLE}-gcc
  DOC "C compiler for ${TALVE_MINGW_TRIPLE} (windres preprocesses with it)")
find_program(TALVE_MINGW_WINDRES
  NAMES ${TALVE_MINGW_TRIPLE}-windres
  DOC "resource compiler for ${TALVE_MINGW_TRIPLE}")

if(NOT TALVE_MINGW_CXX OR NOT TALVE_MINGW_CC OR NOT TALVE_MINGW_WINDRES)
  message(FATAL_ERROR
    "The MinGW-w64 cross compiler for ${TALVE_MINGW_TRIPLE} was not found "
    "(looked for ${TALVE_MINGW_TRIPLE}-g++, -gcc and -windres in PATH).\n"
    "Install it with:  sudo apt-get install mingw-w64 libz-mingw-w64-dev\n"
    "then remove the build directory and configure again.")
endif()

set(CMAKE_CXX_COMPILER ${TALVE_MINGW_CXX})
set(CMAKE_C_COMPILER ${TALVE_MINGW_CC})
set(CMAKE_RC_COMPILER ${TALVE_MINGW_WINDRES})

# Headers and libraries of the target only; build tools come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TALVE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 7 is the oldest system the launcher calls into; newer calls
# (SetDefaultDllDirectories) are looked up at run time. The MinGW printf
# family gives C99 formats (%lld, %zu) that old msvcrt.dll gets wrong.
set(talve_windows_defines "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_C_FLAGS_INIT "${talve_windows_defines}")
set(CMAKE_CXX_FLAGS_INIT "${talve_windows_defines}")

# Only initial values: whoever sets CMAKE_EXE_LINKER_FLAGS must keep -static.
# Release executables ship, so they carry no symbols.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-s")
