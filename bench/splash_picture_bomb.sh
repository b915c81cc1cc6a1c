#!/usr/bin/env bash
# Peak memory and time of a run whose splash is an 18,000 x 18,000 PNG of
# about 1 MB: with no display, and on a private Xvfb display of 1024 x 768.
#   bench/splash_picture_bomb.sh
set -euo pipefail
cd "$(dirname "$0")/.."
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time: apt-get install time" >&2; exit 1; }
[ -x build/linux/bin/talve-launcher ] || { cmake --preset linux >/dev/null; cmake --build --preset linux >/dev/null; }
work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
python3 - "$work/bomb.png" <<'PY'
import struct, sys, zlib
width = height = 18000
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
packer = zlib.compressobj(9)
row = b"\0" + b"\x80" * (width * 3)
idat = b"".join(packer.compress(row) for _ in range(height)) + packer.flush()
with open(sys.argv[1], "wb") as out:
    out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
              + chunk(b"IDAT", idat) + chunk(b"IEND", b""))
PY
mkdir -p "$work/runtime/bin" "$work/temp"
printf '#!/bin/sh\nexit 0\n' >"$work/runtime/bin/java"
chmod +x "$work/runtime/bin/java"
echo "java.bin.path=bin/java" >"$work/runtime/jvm.properties"
echo jar >"$work/install.jar"
build/linux/bin/talve-pack create --launcher build/linux/bin/talve-launcher --jar "$work/install.jar" \
  --splash "$work/bomb.png" -o "$work/setup" >/dev/null
chmod +x "$work/setup"
echo "picture: $(stat -c %s "$work/bomb.png") bytes, 18000 x 18000 pixels"
run() { # label, then the display setting
  local label=$1; shift
  env "$@" TEMP="$work/temp" /usr/bin/time -f "%M %e" -o "$work/time" \
    "$work/setup" -javaHome "$work/runtime" -multipleInstance -console >"$work/out" 2>&1 || true
  read -r kb seconds <"$work/time"
  echo "$label: peak $((kb / 1024)) MiB (maxrss $kb kB), $seconds s; $(grep -m1 WARNING "$work/out" | tr -d '\t' || echo 'no warning')"
}
run "no display" -u DISPLAY
if command -v Xvfb >/dev/null; then
  for n in $(shuf -i 200-60000 -n 20); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
    sleep 1
    kill -0 "$xvfb" 2>/dev/null && break
    xvfb=""
  done
  [ -n "$xvfb" ] && run "Xvfb display 1024 x 768" DISPLAY=":$n"
fi
