#!/usr/bin/env bash
# What judging a whole runtime costs an elevated run: one record leading to
# a runtime of a few thousand entries (a jlink image of every module of the
# machine's JDK, with the probe as its java), less one record leading to a
# runtime of just the probe and its jvm.properties; both are accepted, so
# the difference is the judging of the extra entries. As root every entry is
# judged; with setpriv the same runs as nobody, who judges nothing. With
# "wine" the Windows launcher runs under Wine, where every run is elevated,
# in the test suite's prefix (the tree is the same Linux image: the count of
# entries is what costs).
#   bench/runtime_vetting.sh [runs] [wine]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
wine=${2:-}
. bench/launcher_runs.sh
command -v jlink >/dev/null || { echo "needs a JDK with jlink" >&2; exit 1; }
prepare_target "$wine"
make_searching_installer
mkdir -p "$work/large" "$work/small" "$work/empty"

jlink --add-modules "$(java --list-modules | sed 's/@.*//' | paste -sd, -)" --output "$work/jlinked" >/dev/null
for home in large small; do
  mkdir -p "$work/$home/_jvm/bin"
  [ "$home" = large ] && cp -a "$work/jlinked/." "$work/$home/_jvm/"
  cp "$bin/talve_probe$suffix" "$work/$home/_jvm/bin/java$suffix"
  echo "java.bin.path=bin/java$suffix" > "$work/$home/_jvm/jvm.properties"
done
rm -rf "$work/jlinked"
entries=$(find "$work/large/_jvm" -mindepth 1 | wc -l)
for home in large small; do
  mkdir -p "$work/records-$home"
  echo "$(seen "$work/$home")" > "$work/records-$home/p.talve"
done
chmod -R go-w "$work"
chmod -R a+rX "$work"
chmod 0777 "$work/temp"

# Both runtimes must be taken, or the difference would be an unpack.
if [ -z "$prefix" ]; then
  for home in large small; do
    out=$(env -i PATH=/usr/bin:/bin TEMP="$work/temp" KORVU_INVENTORY_LOCATION="$work/records-$home" \
      CommonProgramFiles="$work/empty" PROBE_CHECK_EXIT=32 KORVU_LOG_LEVEL=INFO \
      "$work/setup" -multipleInstance -noSplashScreen -console 2>&1 || true)
    case $out in
      *"A jvm has been found at the following location : $work/$home/_jvm/"*) ;;
      *) echo "the $home runtime was not taken" >&2; exit 1 ;;
    esac
  done
fi
measure() { # label, then what runs the launcher
  local label=$1; shift
  local large small
  large=$(for _ in $(seq "$runs"); do one "$work/records-large" "$@"; done | median)
  small=$(for _ in $(seq "$runs"); do one "$work/records-small" "$@"; done | median)
  echo "$label: a runtime of $entries entries $(( large - small )) ms (run $large ms, with a runtime of 3 entries $small ms, median of $runs)"
}
measure_each "the whole runtime judged" "nothing judged"
