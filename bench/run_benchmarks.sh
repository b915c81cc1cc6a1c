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
# References that are Debian packages: installed when missing and possible;
# without one, its figures are left out and the rest is measured.
for tool in makeself:zstd mkfs.xfs:xfsprogs; do
  command -v "${tool%%:*}" >/dev/null 2>&1 && continue
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tool#*:}" >/dev/null 2>&1 ||
      echo "could not install ${tool#*:}: its figures are left out" >&2
  else
    echo "${tool#*:} is missing (apt-get install ${tool#*:}): its figures are left out" >&2
  fi
done
exec python3 bench/benchmark.py "$@"
