#!/usr/bin/env bash
# The zip for Windows hosts: one folder holding talve-pack.exe with the
# unpackers and launchers of both targets beside it (where talve-pack.exe
# looks for them), check.jar and the docs, and nothing of the build's paths.
#   windows_host_zip_test.sh BUILD_DIR SCRATCH_DIR
set -u
build=$1 scratch=$2
[ -f "$build/CPackWindowsHostConfig.cmake" ] || { echo "SKIP: this build makes no Windows-host zip (no Windows build, or a sanitizer build)"; exit 77; }
rm -rf "$scratch" && mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackWindowsHostConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }
zip=$(ls "$scratch"/*-windows-host.zip 2>/dev/null | head -n1)
[ -n "$zip" ] || { echo "FAIL: cpack made no zip"; exit 1; }
listing=$(cd "$scratch" && cmake -E tar tf "$zip")
top=$(basename "$zip" .zip)
failures=0
for name in talve-pack.exe talve-unpack.exe talve-launcher.exe talve-unpack talve-launcher check.jar README.md TalveProtectedValue.java; do
  grep -qx "$top/$name" <<<"$listing" || { echo "FAIL: $name is not in $top/: $listing"; failures=$((failures + 1)); }
done
grep -v "^$top/[^/]*$" <<<"$listing" | grep -q . && { echo "FAIL: the zip is not one flat folder: $listing"; failures=$((failures + 1)); }
[ $failures -eq 0 ] && echo "windows-host zip: talve-pack.exe with both targets' programs in one folder"
exit $((failures > 0))
