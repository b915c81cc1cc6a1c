#!/usr/bin/env bash
# Runs one fuzz target for a while on its committed seeds and regression
# inputs. New inputs go to a working corpus in the build tree, never into the
# committed one; a crash is left in the working directory as crash-<hash>,
# to be copied to fuzz/regressions/<target>/ once fixed.
# Usage: run-fuzz-target.sh <fuzzer> <seconds> <work dir> <fuzz source dir> <target name>
set -euo pipefail
fuzzer=$1 seconds=$2 work=$3 source=$4 name=$5

mkdir -p "$work/corpus"
corpora=("$work/corpus" "$source/corpus/$name")
[ -d "$source/regressions/$name" ] && corpora+=("$source/regressions/$name")

cd "$work"
exec "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=1024 \
  -max_len=65536 -artifact_prefix="$work/" "${corpora[@]}"
