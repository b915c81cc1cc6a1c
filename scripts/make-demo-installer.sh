#!/usr/bin/env bash
# Makes the demo installer from the sample payloads: the sample installer jar
# compiled from samples/installer with the installer library
# (java/installer-lib, compiled in: the jar needs nothing else), a Java runtime made by jlink from this
# machine's JDK (only the modules the sample needs) packed by
# 'talve-pack runtime', the Linux launcher, and the runtime-checking jar
# (bin/check.jar of the build) with the sample's requirements, so that the
# installer reuses a runtime an earlier installation left in its product home.
#   scripts/make-demo-installer.sh BUILD_BIN_DIR OUT_DIR
# prints the path of the installer it made.
set -euo pipefail
bin=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")/.." && pwd)

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -rf "$out/classes" "$out/runtime" "$out/install.jar" "$out/jvm"
mkdir -p "$out/classes"
javac --release 8 -Xlint:-options -d "$out/classes" "$here/samples/installer/SampleInstaller.java" \
  $(find "$here/java/installer-lib/src/main/java" -name '*.java')
jar --create --file "$out/install.jar" --main-class SampleInstaller -C "$out/classes" .

modules=$(jdeps --print-module-deps --ignore-missing-deps "$out/install.jar")
jlink --add-modules "$modules" --output "$out/runtime" \
  --strip-debug --no-header-files --no-man-pages >/dev/null

unpacked=$("$bin/talve-pack" runtime "$out/runtime" -o "$out/jvm" --unpacker "$bin/talve-unpack")
"$bin/talve-pack" create -o "$out/talve-demo-installer" --launcher "$bin/talve-launcher" \
  --runtime "$out/jvm" --runtime-size "$unpacked" --jar "$out/install.jar" \
  --usage "$here/samples/installer/usage.txt" --search-installed-runtime \
  --check-jar "$bin/check.jar" --requirements "$here/samples/installer/requirements.txt" >/dev/null
echo "$out/talve-demo-installer"
