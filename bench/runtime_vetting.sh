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
host=$PWD/build/linux/bin
bin=$host suffix="" prefix=""
if [ "$wine" = wine ]; then
  . bench/wine_target.sh
  [ -n "$wine" ] || { echo "this machine cannot start wine" >&2; exit 1; }
  bin=$PWD/$windows_build/bin suffix=.exe prefix=$PWD/build/linux/wine-prefix
  [ -d "$prefix/drive_c" ] || { echo "run the test suite's Wine tests first ($prefix missing)" >&2; exit 1; }
fi
command -v jlink >/dev/null || { echo "needs a JDK with jlink" >&2; exit 1; }
for program in "$host/talve-pack" "$bin/talve-launcher$suffix" "$bin/talve_probe$suffix" "$bin/talve-unpack$suffix"; do
  [ -x "$program" ] || { echo "build the linux and windows presets first ($program missing)" >&2; exit 1; }
done
work=$(mktemp -d ${prefix:+-p "$prefix/drive_c"})
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir -p "$work/carried/bin" "$work/temp" "$work/large" "$work/small" "$work/empty"
cp "$bin/talve_probe$suffix" "$work/carried/bin/java$suffix"
echo "java.bin.path=bin/java$suffix" > "$work/carried/jvm.properties"
size=$("$host/talve-pack" runtime "$work/carried" -o "$work/jvm" --unpacker "$bin/talve-unpack$suffix" | head -n 1)
echo jar > "$work/install.jar"; echo check > "$work/check.jar"; echo "java.feature.min=8" > "$work/req.txt"
"$host/talve-pack" create -o "$work/setup$suffix" --launcher "$bin/talve-launcher$suffix" --jar "$work/install.jar" \
  --runtime "$work/jvm" --runtime-size "$size" --search-installed-runtime \
  --check-jar "$work/check.jar" --requirements "$work/req.txt" >/dev/null

jlink --add-modules "$(java --list-modules | sed 's/@.*//' | paste -sd, -)" --output "$work/jlinked" >/dev/null
for home in large small; do
  mkdir -p "$work/$home/_jvm/bin"
  [ "$home" = large ] && cp -a "$work/jlinked/." "$work/$home/_jvm/"
  cp "$bin/talve_probe$suffix" "$work/$home/_jvm/bin/java$suffix"
  echo "java.bin.path=bin/java$suffix" > "$work/$home/_jvm/jvm.properties"
done
rm -rf "$work/jlinked"
entries=$(find "$work/large/_jvm" -mindepth 1 | wc -l)
. bench/launcher_runs.sh
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
