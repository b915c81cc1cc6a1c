#!/usr/bin/env bash
# Builds the shipped programs twice, from two copies of this checkout in two
# folders of different names (so every absolute path differs, and the clock
# has moved on between the builds), and compares them byte for byte: the
# Windows talve-launcher.exe, talve-unpack.exe and talve-pack.exe, and the
# Linux talve-launcher (with its talve-launcher.debug), talve-unpack and
# talve-pack. Exit code 0 when every pair is identical, 1 otherwise.
#
# The compiler cache is off for these builds: a cached object would make
# the second build a copy of the first and the comparison worthless. Give
# SOURCE_DATE_EPOCH (e.g. the commit time) to check a release build that
# carries it; both builds then see the same value.
#
#   scripts/check-reproducible.sh [--keep]   (--keep leaves the builds in place)
set -euo pipefail
cd "$(dirname "$0")/.."
source_root=$(pwd)

keep=false
[ "${1:-}" = --keep ] && keep=true

scratch=$(mktemp -d "${TMPDIR:-/tmp}/talve-reproducible.XXXXXX")
cleanup() {
  if $keep; then echo "builds kept in $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT

export CCACHE_DISABLE=1
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER

# The files of the checkout as they are now, committed or not, without the
# build folders.
copy_checkout() {
  mkdir -p "$1"
  if git -C "$source_root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$source_root" ls-files -z --cached --others --exclude-standard |
      (cd "$source_root" && xargs -0 tar -cf - --no-recursion --ignore-failed-read 2>/dev/null) | tar -xf - -C "$1"
  else
    tar -C "$source_root" --exclude=./build -cf - . | tar -xf - -C "$1"
  fi
}

windows=false
if command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  windows=true
else
  echo "note: no MinGW-w64 cross compiler; the Windows programs are not checked"
fi

build() {
  local tree=$1
  if $windows; then
    (cd "$tree" && cmake --preset windows -DTALVE_BUILD_TESTS=OFF >/dev/null &&
      nice cmake --build --preset windows --target talve-launcher talve-unpack talve-pack >/dev/null)
  fi
  (cd "$tree" && cmake --preset linux -DTALVE_BUILD_TESTS=OFF >/dev/null &&
    nice cmake --build --preset linux --target talve-launcher talve-unpack talve-pack >/dev/null)
}

first="$scratch/a/src"
second="$scratch/second-build-folder/talve-launcher-checkout"
started=$(date +%s)
for tree in "$first" "$second"; do
  copy_checkout "$tree"
  echo "building in $tree"
  build "$tree"
done

programs=(linux/bin/talve-launcher linux/bin/talve-launcher.debug linux/bin/talve-unpack linux/bin/talve-pack)
if $windows; then
  programs+=(windows/bin/talve-launcher.exe windows/bin/talve-unpack.exe windows/bin/talve-pack.exe)
fi
status=0
for program in "${programs[@]}"; do
  one="$first/build/$program"
  two="$second/build/$program"
  if cmp "$one" "$two" >/dev/null 2>&1; then
    echo "identical: $program ($(wc -c < "$one") bytes, sha256 $(sha256sum "$one" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $program: $(cmp "$one" "$two" 2>&1 | head -1)"
    status=1
  fi
done
echo "two builds in $(( $(date +%s) - started )) s"
exit $status
