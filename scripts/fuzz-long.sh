#!/usr/bin/env bash
# Runs fuzz targets of the sanitizer build for longer than the test suite
# does, one after the other, growing their working corpora in
# build/linux-asan/fuzz/work/. A crash stops the run and is left there as
# crash-<hash>: once fixed, copy it to fuzz/regressions/<target>/.
# Usage: scripts/fuzz-long.sh [seconds per target, default 600] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
build=build/linux-asan
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for fuzzer in "$build"/bin/*_fuzz; do
    name=$(basename "$fuzzer")
    targets+=("${name%_fuzz}")
  done
fi
status=0
for name in "${targets[@]}"; do
  work="$PWD/$build/fuzz/work/$name"
  mkdir -p "$work"
  echo "== $name: $seconds s (full output in $work/long-run.log)"
  scripts/run-fuzz-target.sh "$PWD/$build/bin/${name}_fuzz" "$seconds" "$work" "$PWD/fuzz" "$name" \
    >"$work/long-run.log" 2>&1 || status=1
  grep -E 'INITED|DONE|stat::number_of_executed_units|ERROR|SUMMARY' "$work/long-run.log" || true
done
exit $status
