#!/usr/bin/env bash
# Refreshes the README's pictures of the splash window: the end-to-end test
# that checks the splash on a private Xvfb display saves what it saw
# (natively, and under Wine for the Windows launcher); this copies those
# screenshots into docs/images. Build both presets first.
set -euo pipefail
cd "$(dirname "$0")/.."

rm -f build/linux/screenshots/splash-*.png
ctest --preset linux -R 'e2e\.(native|wine)\.(prefix|Splash\.ShowsPicture)'
mkdir -p docs/images
for system in linux windows; do
  shot=build/linux/screenshots/splash-$system.png
  if [ -f "$shot" ]; then
    cp "$shot" docs/images/
  else
    echo "no screenshot of the $system launcher (is the Windows build or Wine missing?)" >&2
  fi
done
