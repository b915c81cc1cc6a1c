#!/usr/bin/env bash
# Builds the Linux launcher and tools, makes the demo installer (sample jar,
# a jlink runtime packed by talve-pack runtime) and runs it: the launcher
# unpacks the runtime and runs the sample installer jar on it.
set -euo pipefail
cd "$(dirname "$0")/.."

TALVE_NO_WINDOWS=1 scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target talve-launcher talve-pack talve-unpack

installer=$(scripts/make-demo-installer.sh build/linux/bin build/demo)
rm -f build/demo/bootstrapLog_*_.log build/demo/sample-*
echo
echo "== talve-pack list $installer"
build/linux/bin/talve-pack list "$installer"
echo
echo "== $installer -console -tempdir build/demo (from build/demo)"
set +e
(cd build/demo && "$installer" -console -tempdir "$PWD")
code=$?
set -e
echo "== the demo installer ended with exit code $code"
exit $code
