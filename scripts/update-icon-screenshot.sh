#!/usr/bin/env bash
# Refreshes docs/images/installer-icon-wine.png: an installer packed with the
# sample's icon and version information, beside talve-pack.exe (which has no
# icon), in Wine's file explorer on a private Xvfb display. Wine reads the
# icon from the 32-bit installer itself, so a 64-bit Wine is enough.
# Needs the linux and windows presets built, Xvfb, wine (or wine64), xwd
# (x11-apps) and ImageMagick's convert.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in Xvfb xwd convert; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install xvfb x11-apps imagemagick)" >&2; exit 1; }
done
if wine --version >/dev/null 2>&1; then wine=wine; else wine=/usr/lib/wine/wine64; fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/talve-icon-shot.XXXXXX")
display=
cleanup() {
  WINEPREFIX="$scratch/prefix" wineserver -k 2>/dev/null || true
  [ -z "$display" ] || kill "$display" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
# The prefix's Desktop and Documents link to HOME: keep them in the scratch folder.
export HOME="$scratch/home" WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
mkdir -p "$HOME" "$scratch/jar"

printf 'Main-Class: Setup\n' > "$scratch/jar/manifest.txt"
jar cfm "$scratch/setup.jar" "$scratch/jar/manifest.txt" -C "$scratch/jar" manifest.txt
folder="$WINEPREFIX/drive_c/Downloads"
mkdir -p "$folder"
build/linux/bin/talve-pack create -o "$folder/example-setup.exe" --launcher build/windows/bin/talve-launcher.exe \
  --jar "$scratch/setup.jar" --icon samples/installer/product.ico --product-name "Example" \
  --product-version 2.0.13 --company "Example Corp." --description "Example installer" >/dev/null
cp build/windows/bin/talve-pack.exe "$folder/"

for number in $(seq 90 130); do
  [ -e "/tmp/.X11-unix/X$number" ] && continue
  Xvfb ":$number" -screen 0 800x400x24 >/dev/null 2>&1 &
  display=$!
  export DISPLAY=":$number"
  break
done
sleep 1
"$wine" wineboot --init >/dev/null 2>&1
# A 64-bit-only prefix lacks the .exe class, without which Explorer shows
# every program with the document icon.
"$wine" reg add 'HKCR\.exe' /ve /d exefile /f >/dev/null 2>&1
"$wine" explorer /desktop=shot,640x300 explorer.exe 'C:\Downloads' >/dev/null 2>&1 &
sleep 25
mkdir -p docs/images
xwd -root -silent | convert xwd:- -crop 640x140+0+0 +repage docs/images/installer-icon-wine.png
echo "docs/images/installer-icon-wine.png"
