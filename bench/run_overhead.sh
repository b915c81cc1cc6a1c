#!/usr/bin/env bash
# What a whole run costs beyond the programs it must start: a run with
# -javaHome whose installer exits at once and leaves its exit script empty,
# against its remaining child run alone (java) and against the launcher's
# own start (-help), natively and under Wine (bench/wine_target.sh says
# which build). Medians of repeated warm runs; one line per figure.
#   bench/run_overhead.sh [runs] [linux build] [windows build]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-21}
linux=$(cd "${2:-build/linux}/bin" && pwd)
. bench/wine_target.sh
windows=${3:-$windows_build}/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Median wall time in milliseconds of the command given, run $runs times.
median_ms() {
    python3 - "$runs" "$@" <<'PY'
import statistics, subprocess, sys, time
runs, argv = int(sys.argv[1]), sys.argv[2:]
samples = []
for _ in range(runs):
    start = time.perf_counter()
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    samples.append(time.perf_counter() - start)
print(f"{statistics.median(samples) * 1000:.1f}")
PY
}

difference() { python3 -c "import sys; print(f'{float(sys.argv[1]) - float(sys.argv[2]):.1f}')" "$1" "$2"; }

# An installer jar that is never read: the runtime's "java" exits at once.
printf 'PK\005\006%018d' 0 | tr 0 '\000' > "$work/install.jar"
mkdir -p "$work/temp"
export TEMP="$work/temp" TMP="$work/temp"
unset KORVU_LOG_LEVEL KORVU_CONSOLE_DEBUG

mkdir -p "$work/native/bin"
cp "$(type -P true)" "$work/native/bin/java"
: > "$work/native/jvm.properties"
"$linux/talve-pack" create -o "$work/setup" --launcher "$linux/talve-launcher" --jar "$work/install.jar" > /dev/null
whole=$(median_ms "$work/setup" -javaHome "$work/native" -multipleInstance -noSplashScreen)
java=$(median_ms "$work/native/bin/java" -jar "$work/install.jar")
start=$(median_ms "$work/setup" -help)
echo "native whole run with -javaHome (exit script left empty, so not run): $whole ms"
echo "native remaining child (java alone): $java ms"
echo "native overhead of the run beyond its child: $(difference "$whole" "$java") ms"
echo "native launcher's own start and table (-help): $start ms"
echo "native run's own work beyond its start and its child: $(difference "$(difference "$whole" "$java")" "$start") ms"

if [ -z "$wine" ] || [ ! -f "$windows/talve-launcher.exe" ] || [ ! -f "$windows/talve_probe.exe" ]; then
    echo "under Wine: not measured (needs wine and the windows preset built)"
    exit 0
fi
export WINEPREFIX="$work/wine" WINEDEBUG=-all
if ! "$wine" cmd.exe /c exit 0 > /dev/null 2>&1; then
    echo "under Wine: not measured (Wine cannot run the programs of $windows on this machine)"
    exit 0
fi
mkdir -p "$work/windows/bin"
cp "$windows/talve_probe.exe" "$work/windows/bin/java.exe"
: > "$work/windows/jvm.properties"
"$linux/talve-pack" create -o "$work/setup.exe" --launcher "$windows/talve-launcher.exe" --jar "$work/install.jar" > /dev/null
wineserver -p 60 2> /dev/null || true
# Every figure here includes one start of Wine itself, which a run pays
# once: the children's sum counts it twice and is given as measured.
whole=$(median_ms "$wine" "$work/setup.exe" -javaHome "$work/windows" -multipleInstance -noSplashScreen)
java=$(median_ms "$wine" "$work/windows/bin/java.exe" -jar "$work/install.jar")
start=$(median_ms "$wine" "$work/setup.exe" -help)
echo "Wine whole run with -javaHome (exit script left empty, so not run): $whole ms"
echo "Wine java alone: $java ms"
echo "Wine launcher's own start and table (-help): $start ms"
echo "Wine run's own work beyond its start and its child (one Wine start counted twice): $(difference "$(difference "$whole" "$java")" "$start") ms"
wineserver -k 2> /dev/null || true
