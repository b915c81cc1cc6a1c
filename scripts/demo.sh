#!/usr/bin/env bash
# Builds the Linux launcher and tools, makes the demo installer (sample jar,
# a jlink runtime packed by talve-pack runtime, the runtime-checking jar) and
# runs it: the launcher unpacks the runtime and runs the sample installer jar
# on it.
#   scripts/demo.sh          one installation
#   scripts/demo.sh reuse    two installations into build/demo/product: the
#                            first unpacks the runtime and leaves it in the
#                            product home, the second finds it through the
#                            product record and reuses it
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-}

TALVE_NO_WINDOWS=1 scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target talve-launcher talve-pack talve-unpack talve-check-jar

installer=$(scripts/make-demo-installer.sh build/linux/bin build/demo)
rm -f build/demo/bootstrapLog_*_.log build/demo/sample-*
echo
echo "== talve-pack list $installer"
build/linux/bin/talve-pack list "$installer"

# Product records go to build/demo/inventory, never to the machine's own
# folders; each demo starts with none, so its first installation unpacks.
rm -rf build/demo/product build/demo/inventory
export KORVU_INVENTORY_LOCATION="$PWD/build/demo/inventory" CommonProgramFiles="$PWD/build/demo/common"
unset ALLUSERSPROFILE

run() {
  echo
  echo "== $installer $* (from build/demo)"
  set +e
  (cd build/demo && "$installer" "$@")
  code=$?
  set -e
  echo "== the demo installer ended with exit code $code"
}

if [ "$mode" = reuse ]; then
  export KORVU_LOG_LEVEL=INFO
  run -console -tempdir "$PWD/build/demo" -installDir "$PWD/build/demo/product"
  [ $code -eq 0 ] || exit $code
  run -console -tempdir "$PWD/build/demo" -installDir "$PWD/build/demo/product"
else
  run -console -tempdir "$PWD/build/demo"
fi
exit $code
