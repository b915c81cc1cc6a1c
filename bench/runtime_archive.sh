#!/usr/bin/env bash
# Packed size and unpack time of a jlink runtime (java.base by default)
# against tar archives of the same folder, and the unpacker on one and on two
# processors. One line per figure, "name: value unit", for
# bench/run_benchmarks.sh or by hand:
#   bench/runtime_archive.sh BIN_DIR [RUNS] [MODULES]
# BIN_DIR holds talve-pack and talve-unpack (build/linux/bin). Times are
# medians of RUNS (7) unpacks with a warm cache.
set -euo pipefail
bin=$(cd "$1" && pwd)
runs=${2:-7}
modules=${3:-java.base}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

jlink --add-modules "$modules" --strip-debug --no-header-files --no-man-pages --output "$scratch/runtime" >/dev/null
echo "runtime unpacked ($modules): $(du -sb "$scratch/runtime" | cut -f1) bytes"
"$bin/talve-pack" runtime "$scratch/runtime" -o "$scratch/zstd.bin" --unpacker "$bin/talve-unpack" >/dev/null
"$bin/talve-pack" runtime "$scratch/runtime" -o "$scratch/deflate.bin" --unpacker "$bin/talve-unpack" \
  --compression deflate >/dev/null
stub=$(stat -c %s "$bin/talve-unpack")
tar -C "$scratch/runtime" -czf "$scratch/runtime.tar.gz" .
tar -C "$scratch/runtime" -cJf "$scratch/runtime.tar.xz" .
tar -C "$scratch/runtime" -cf - . | zstd -q -19 -o "$scratch/runtime.tar.zst"
for name in zstd.bin deflate.bin; do
  echo "packed runtime, ${name%.bin} (archive without the $stub-byte unpacker): $(($(stat -c %s "$scratch/$name") - stub)) bytes"
done
for name in runtime.tar.gz runtime.tar.xz runtime.tar.zst; do
  echo "packed runtime, ${name#runtime.}: $(stat -c %s "$scratch/$name") bytes"
done

# Median wall time in milliseconds of a command run in a fresh folder.
median_ms() {
  local times=() i start end
  for ((i = 0; i < runs; ++i)); do
    rm -rf "$scratch/out" && mkdir "$scratch/out"
    start=$(date +%s%N)
    (cd "$scratch/out" && "$@") >/dev/null
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$((runs / 2 + 1))p"
}
echo "unpack, zstd, 2 processors: $(median_ms taskset -c 0,1 "$scratch/zstd.bin" -o) ms"
echo "unpack, zstd, 1 processor: $(median_ms taskset -c 0 "$scratch/zstd.bin" -o) ms"
echo "unpack, deflate, 2 processors: $(median_ms taskset -c 0,1 "$scratch/deflate.bin" -o) ms"
echo "unpack, deflate, 1 processor: $(median_ms taskset -c 0 "$scratch/deflate.bin" -o) ms"
echo "unpack, tar -xzf: $(median_ms tar -xzf "$scratch/runtime.tar.gz") ms"
echo "unpack, tar -xJf: $(median_ms tar -xJf "$scratch/runtime.tar.xz") ms"
echo "unpack, tar --zstd -xf: $(median_ms tar --zstd -xf "$scratch/runtime.tar.zst") ms"
