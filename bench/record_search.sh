#!/usr/bin/env bash
# Time of a runtime search over one record folder of 100,000 records (the
# default count), none of which leads to a usable runtime, so that every
# record is read and its runtime looked at: the median run with the full
# folder less the median run with an empty one (both then unpack the
# carried runtime). As root, the run also checks who could change each
# record and runtime; with setpriv the same search runs as nobody, unvetted.
#   bench/record_search.sh [records] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
records=${1:-100000}
runs=${2:-5}
bin=$PWD/build/linux/bin
for program in talve-pack talve-launcher talve_probe; do
  [ -x "$bin/$program" ] || { echo "build the linux preset first ($program missing)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir -p "$work/carried/bin" "$work/full" "$work/empty" "$work/temp"
cp "$bin/talve_probe" "$work/carried/bin/java"
echo "java.bin.path=bin/java" > "$work/carried/jvm.properties"
size=$("$bin/talve-pack" runtime "$work/carried" -o "$work/jvm" --unpacker "$bin/talve-unpack" | head -n 1)
echo jar > "$work/install.jar"; echo check > "$work/check.jar"; echo "java.feature.min=8" > "$work/req.txt"
"$bin/talve-pack" create -o "$work/setup" --launcher "$bin/talve-launcher" --jar "$work/install.jar" \
  --runtime "$work/jvm" --runtime-size "$size" --search-installed-runtime \
  --check-jar "$work/check.jar" --requirements "$work/req.txt" >/dev/null
python3 - "$work/full" "$records" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    with open(os.path.join(folder, "product%06d.talve" % i), "w") as record:
        record.write("/opt/product%06d\n" % i)
PY
chmod -R a+rX "$work"
chmod 0777 "$work/temp"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
one() { # folder, then what runs the launcher
  local folder=$1; shift
  local s e
  s=$(date +%s%N)
  env -i PATH=/usr/bin:/bin TEMP="$work/temp" KORVU_INVENTORY_LOCATION="$folder" CommonProgramFiles="$work/empty" \
    PROBE_CHECK_EXIT=32 "$@" "$work/setup" -multipleInstance -noSplashScreen >/dev/null 2>&1
  e=$(date +%s%N)
  echo $(( (e - s) / 1000000 ))
}
measure() { # label, then what runs the launcher
  local label=$1; shift
  local full empty
  full=$(for _ in $(seq "$runs"); do one "$work/full" "$@"; done | median)
  empty=$(for _ in $(seq "$runs"); do one "$work/empty" "$@"; done | median)
  echo "$label: search of $records records $(( full - empty )) ms (run $full ms, with an empty folder $empty ms, median of $runs)"
}
if [ "$(id -u)" = 0 ]; then
  measure "as root (each record and runtime vetted)"
  if command -v setpriv >/dev/null; then
    measure "as nobody (unvetted)" setpriv --reuid=nobody --regid=nogroup --clear-groups
  fi
else
  measure "as $(id -un) (unvetted)"
fi
