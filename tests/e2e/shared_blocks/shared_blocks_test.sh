#!/usr/bin/env bash
# On a file system that shares blocks (xfs, btrfs), the launcher's data jar
# must come out of the installer as shared blocks, not as a copy: the run
# extracts it on a loop-mounted image made here and a stand-in java reports
# the extents of what it finds. Needs root and the mkfs tools; skipped
# (exit 77) where nothing can be mounted.
#   shared_blocks_test.sh BIN_DIR SCRATCH_DIR
set -u
bin=$1 scratch=$2
rm -rf "$scratch" && mkdir -p "$scratch"
mounted=""
cleanup() {
    [ -n "$mounted" ] && umount "$mounted"
    rm -rf "$scratch"
}
trap cleanup EXIT
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "mounting a loop image needs root"
command -v filefrag >/dev/null || skip "filefrag (e2fsprogs) is missing"

runtime="$scratch/runtime"
mkdir -p "$runtime/bin"
# The launcher starts this as its java in the run's temporary folder, where
# the data jar was just extracted.
cat >"$runtime/bin/java" <<SCRIPT
#!/bin/sh
filefrag -v data.bin >"$scratch/extents" 2>&1
cmp -s data.bin "$scratch/data.bin" && echo "same bytes" >>"$scratch/extents"
exit 0
SCRIPT
chmod 755 "$runtime/bin/java"
# What tells the launcher that a folder given with -javaHome is a runtime.
: >"$runtime/jvm.properties"
printf 'PK\005\006%018d' 0 | tr 0 '\000' >"$scratch/install.jar"
# Not a whole number of blocks: the tail that cannot be shared is copied.
head -c $((24 * 1024 * 1024 + 1234)) /dev/urandom >"$scratch/data.bin"

failures=0 tried=0
for fs in xfs btrfs; do
    command -v "mkfs.$fs" >/dev/null || { echo "no mkfs.$fs: $fs left out"; continue; }
    image="$scratch/$fs.img" mnt="$scratch/$fs"
    mkdir -p "$mnt"
    truncate -s 320M "$image"
    "mkfs.$fs" -q "$image" >/dev/null 2>&1 || { echo "mkfs.$fs failed: $fs left out"; continue; }
    mount -o loop "$image" "$mnt" 2>/dev/null || { echo "cannot mount a $fs loop image: $fs left out"; continue; }
    mounted=$mnt tried=$((tried + 1))
    mkdir -m 700 "$mnt/temp"
    cp "$scratch/data.bin" "$mnt/data.bin"
    "$bin/talve-pack" create -o "$mnt/installer" --launcher "$bin/talve-launcher" --jar "$scratch/install.jar" \
        --data "$mnt/data.bin" >/dev/null || { echo "FAIL: $fs: talve-pack create"; failures=$((failures + 1)); }
    rm -f "$scratch/extents"
    out=$(cd "$mnt" && TEMP="$mnt/temp" TMPDIR="$mnt/temp" "$mnt/installer" -javaHome "$runtime" -multipleInstance \
        -noSplashScreen 2>&1)
    code=$?
    if [ $code -ne 0 ]; then
        echo "FAIL: $fs: the launcher exited with $code: $out"; failures=$((failures + 1))
    elif ! grep -q "same bytes" "$scratch/extents"; then
        echo "FAIL: $fs: the extracted data jar differs from the packed one"; failures=$((failures + 1))
    elif ! grep -q "shared" "$scratch/extents"; then
        echo "FAIL: $fs: the extracted data jar shares no blocks:"; cat "$scratch/extents"; failures=$((failures + 1))
    else
        echo "ok: $fs: the data jar was extracted as shared blocks"
    fi
    umount "$mnt" && mounted=""
done
[ $tried -gt 0 ] || skip "no xfs or btrfs loop image could be mounted"
exit $((failures > 0))
