#!/bin/sh
# Times what the bounds on child programs cost a run, with the native build:
#   1. a runtime whose checking jar never answers (it is stopped at its 60 s
#      limit, and the carried runtime is unpacked instead);
#   2. SIGTERM to the launcher while its installer runs with a helper that
#      ignores the signal (the helper is stopped with it).
# Usage: bench/child_limits.sh [build/linux]
set -eu
build=${1:-build/linux}
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p temp home/_jvm/bin
cp "$bin/talve_probe" home/_jvm/bin/java
echo "java.bin.path=bin/java" > home/_jvm/jvm.properties
echo jar > install.jar
echo "java.feature.min=8" > req.txt
"$bin/talve-pack" create -o setup --launcher "$bin/talve-launcher" --jar install.jar \
    --runtime "$bin/talve_probe" --runtime-size 1 --search-installed-runtime \
    --check-jar install.jar --requirements req.txt > /dev/null

start=$(date +%s.%N)
TEMP="$work/temp" PROBE_CHECK_HANG=1 KORVU_CONSOLE_DEBUG=1 KORVU_LOG_LEVEL=INFO ./setup -location "$work/home" -multipleInstance \
    > out.txt 2>&1 || true
end=$(date +%s.%N)
echo "hung check: run ended after $(echo "$end - $start" | bc) s"
grep -h "did not end within\|is not valid\|has been unpacked\|Exiting with code" out.txt || true

TEMP="$work/temp" PROBE_HELPER="$work/helper" PROBE_RUN_STARTED="$work/started" PROBE_RUN_RELEASE="$work/never" \
    ./setup -javaHome "$work/home/_jvm" -multipleInstance > /dev/null 2>&1 &
launcher=$!
while [ ! -e "$work/started" ] || [ ! -e "$work/helper" ]; do sleep 0.05; done
helper=$(cat "$work/helper")
start=$(date +%s.%N)
kill -TERM "$launcher"
wait "$launcher" || true
end=$(date +%s.%N)
echo "SIGTERM to the launcher's end, installer with a helper: $(echo "$end - $start" | bc) s"
sleep 0.5
if [ -d "/proc/$helper" ] && ! grep -q '^State:.*Z' "/proc/$helper/status"; then
    echo "helper $helper still runs"; kill -KILL "$helper"
else
    echo "helper stopped"
fi
