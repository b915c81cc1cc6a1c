# Sourced by the benchmarks that run the Windows programs: which Wine runs
# them and which build it can start. The shipped 32-bit build under wine or,
# on a kernel that cannot start 32-bit programs, its 64-bit build under
# wine64 (preset windows64). wine is empty when neither can start.
if wine --version >/dev/null 2>&1; then
  wine=wine windows_build=build/windows
elif [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64 windows_build=build/windows64
else
  wine="" windows_build=build/windows
fi
