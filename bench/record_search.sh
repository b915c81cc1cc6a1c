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
. bench/launcher_runs.sh
prepare_target "$wine"
make_searching_installer
mkdir -p "$work/full" "$work/empty"
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
