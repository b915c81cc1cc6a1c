#!/usr/bin/env bash
# Measures, on this machine in one run:
#   1. unpacking the packed demo runtime with "talve-unpack -o" against
#      "tar -xzf" of a tar.gz of the same runtime directory;
#   2. JarExtractor::extractFile of a 100 MB payload against "cp" of a 100 MB file.
# Each figure is the best of several runs with warm caches, so that both sides
# of a ratio pay the same (no) disk-read cost; a ratio below 1 means faster.
#   bench/run_benchmarks.sh [BUILD_DIR]     (default build/linux, built if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
runs=${RUNS:-5}
[ -d "$build" ] || cmake --preset linux >/dev/null
cmake --build "$build" --target talve-launcher talve-pack talve-unpack talve_extract_bench >/dev/null
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/talve-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
best() { sort -g | head -n 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== preparing (demo runtime made with jlink, a 100 MB payload)"
installer=$(scripts/make-demo-installer.sh "$bin" "$work/demo")
tar -C "$work/demo/runtime" -czf "$work/runtime.tar.gz" .
packed="$work/demo/jvm"
echo "packed runtime: $(stat -c %s "$packed") bytes; tar.gz: $(stat -c %s "$work/runtime.tar.gz") bytes;" \
  "unpacked: $(du -sb "$work/demo/runtime" | cut -f1) bytes"

head -c $((100 * 1024 * 1024)) /dev/urandom > "$work/payload.bin"
mkdir -p "$work/dummy"
echo jar > "$work/dummy/install.jar"
"$bin/talve-pack" create -o "$work/big-installer" --launcher "$bin/talve-launcher" \
  --jar "$work/dummy/install.jar" --data "$work/payload.bin" >/dev/null 2>&1 ||
  { cp "$work/payload.bin" "$work/dummy/data.bin"; "$bin/talve-pack" create -o "$work/big-installer" \
      --launcher "$bin/talve-launcher" --jar "$work/dummy/install.jar" --data "$work/dummy/data.bin" >/dev/null; }
cat "$work/big-installer" > /dev/null

unpack_times=() tar_times=() extract_times=() cp_times=()
for _ in $(seq "$runs"); do
  rm -rf "$work/u" && mkdir "$work/u" && cp "$packed" "$work/u/jvm"
  start=$(now); (cd "$work/u" && ./jvm -o); unpack_times+=("$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')")
  rm -rf "$work/t" && mkdir "$work/t"
  start=$(now); tar -C "$work/t" -xzf "$work/runtime.tar.gz"; tar_times+=("$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')")

  rm -f "$work/extracted.bin"
  extract_times+=("$("$bin/talve_extract_bench" "$work/big-installer" 3 "$work/extracted.bin")")
  rm -f "$work/copied.bin"
  start=$(now); cp "$work/payload.bin" "$work/copied.bin"; cp_times+=("$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')")
done
cmp -s "$work/payload.bin" "$work/extracted.bin" || { echo "extracted payload differs from the original"; exit 1; }
diff -r "$work/u/_jvm/bin" "$work/t/bin" >/dev/null || { echo "unpacked runtime differs from the tar one"; exit 1; }

unpack=$(printf '%s\n' "${unpack_times[@]}" | best)
tarx=$(printf '%s\n' "${tar_times[@]}" | best)
extract=$(printf '%s\n' "${extract_times[@]}" | best)
copy=$(printf '%s\n' "${cp_times[@]}" | best)
echo
echo "best of $runs runs:"
printf '  talve-unpack -o      %.3f s    tar -xzf  %.3f s    ratio unpack/tar  %s (aim: <= 1.00)\n' "$unpack" "$tarx" "$(ratio "$unpack" "$tarx")"
printf '  extractFile 100 MB   %.3f s    cp        %.3f s    ratio extract/cp  %s (aim: <= 1.10)\n' "$extract" "$copy" "$(ratio "$extract" "$copy")"
