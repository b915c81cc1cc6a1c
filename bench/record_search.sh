#!/usr/bin/env bash
# Time of a runtime search over one record folder of 100,000 records (the
# default count), none of which leads to a usable runtime, so that every
# record is read and its runtime looked at: the median run with the full
# folder less the median run with an empty one (both then unpack the
# carried runtime). As root, the run also checks who could change each
# record and runtime; with setpriv the same search runs as nobody, unvetted.
# With "wine" the Windows launcher searches under Wine, where every run is
# elevated and so vets each record, in the test suite's prefix.
#   bench/record_search.sh [records] [runs] [wine]
set -euo pipefail
cd "$(dirname "$0")/.."
records=${1:-100000}
runs=${2:-5}
wine=${3:-}
host=$PWD/build/linux/bin
bin=$host suffix="" prefix=""
if [ "$wine" = wine ]; then
  . bench/wine_target.sh
  [ -n "$wine" ] || { echo "this machine cannot start wine" >&2; exit 1; }
  bin=$PWD/$windows_build/bin suffix=.exe prefix=$PWD/build/linux/wine-prefix
  [ -d "$prefix/drive_c" ] || { echo "run the test suite's Wine tests first ($prefix missing)" >&2; exit 1; }
fi
for program in "$host/talve-pack" "$bin/talve-launcher$suffix" "$bin/talve_probe$suffix" "$bin/talve-unpack$suffix"; do
  [ -x "$program" ] || { echo "build the linux and windows presets first ($program missing)" >&2; exit 1; }
done
# Under Wine on the prefix's drive C:, whose folders only this user may change.
work=$(mktemp -d ${prefix:+-p "$prefix/drive_c"})
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"
mkdir -p "$work/carried/bin" "$work/full" "$work/empty" "$work/temp"
cp "$bin/talve_probe$suffix" "$work/carried/bin/java$suffix"
echo "java.bin.path=bin/java$suffix" > "$work/carried/jvm.properties"
size=$("$host/talve-pack" runtime "$work/carried" -o "$work/jvm" --unpacker "$bin/talve-unpack$suffix" | head -n 1)
echo jar > "$work/install.jar"; echo check > "$work/check.jar"; echo "java.feature.min=8" > "$work/req.txt"
"$host/talve-pack" create -o "$work/setup$suffix" --launcher "$bin/talve-launcher$suffix" --jar "$work/install.jar" \
  --runtime "$work/jvm" --runtime-size "$size" --search-installed-runtime \
  --check-jar "$work/check.jar" --requirements "$work/req.txt" >/dev/null
. bench/launcher_runs.sh
python3 - "$work/full" "$records" "${prefix:+$(seen "$work")}" <<'PY'
import os, sys
folder, count, windows_home = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for i in range(count):
    with open(os.path.join(folder, "product%06d.talve" % i), "w") as record:
        record.write(windows_home + "\\product%06d\n" % i if windows_home else "/opt/product%06d\n" % i)
PY
chmod -R a+rX "$work"
chmod 0777 "$work/temp"

measure() { # label, then what runs the launcher
  local label=$1; shift
  local full empty
  full=$(for _ in $(seq "$runs"); do one "$work/full" "$@"; done | median)
  empty=$(for _ in $(seq "$runs"); do one "$work/empty" "$@"; done | median)
  echo "$label: search of $records records $(( full - empty )) ms (run $full ms, with an empty folder $empty ms, median of $runs)"
}
measure_each "each record and runtime vetted" "unvetted"
