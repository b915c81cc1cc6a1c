#!/usr/bin/env bash
# The benchmark command: builds what it measures (the Linux preset, and the
# Windows one when its toolchain is there, for the sizes) and prints every
# figure; see bench/benchmark.py for what is measured and how.
#   bench/run_benchmarks.sh [benchmark.py options, e.g. --runs 21 --skip-1g]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time: apt-get install time" >&2; exit 1; }
[ -d build/linux ] || cmake --preset linux >/dev/null
if command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  [ -d build/windows ] || cmake --preset windows >/dev/null
  cmake --build --preset windows --target talve-launcher talve-unpack >/dev/null
fi
exec python3 bench/benchmark.py "$@"
