#!/usr/bin/env bash
# Installs what building and testing talve-launcher needs on a Debian machine.
# Only missing packages are installed; the Windows cross toolchain and Wine are
# installed too unless TALVE_NO_WINDOWS=1.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev zlib1g-dev)
# Packed runtimes are zstd: the static library goes into the Linux unpacker,
# the JNI binding into the Maven plugin; dpkg-dev unpacks the source package
# the Windows programs are compiled from (below).
packages+=(libzstd-dev libzstd-jni-java dpkg-dev)
# Splash window: stb_image is compiled in, libX11 is opened at run time (its
# headers only at build time); the tests draw on Xvfb, with the core
# Helvetica font of the 75 dpi set.
packages+=(libstb-dev libx11-dev xvfb xfonts-75dpi)
# clang and its runtime libraries build the sanitizer build and the fuzz targets.
packages+=(clang libclang-rt-14-dev)
# Any JDK with jlink will do for the demo and the real-JVM test.
command -v javac >/dev/null 2>&1 && command -v jlink >/dev/null 2>&1 || packages+=(default-jdk-headless)
# The Java library and the Maven plugin build offline from Debian's own Maven
# repository (/usr/share/maven-repo), which these packages fill.
packages+=(maven maven-debian-helper libmaven-plugin-tools-java libmaven-invoker-plugin-java junit5)
# The library's sources and Javadoc jars, and installing it for the plugin's tests.
packages+=(libmaven-source-plugin-java libmaven-javadoc-plugin-java libmaven-install-plugin-java)
# Signing tests make a throw-away certificate and sign installers with it.
packages+=(openssl osslsigncode)
# wrestool lists the resources of packed Windows installers.
packages+=(icoutils)
# The shared-blocks test extracts onto xfs and btrfs loop images (filefrag is in e2fsprogs).
packages+=(xfsprogs btrfs-progs e2fsprogs)
if [ "${TALVE_NO_WINDOWS:-0}" != 1 ]; then
  packages+=(mingw-w64 libz-mingw-w64-dev wine wine32:i386 file)
  # A kernel without 32-bit support cannot start wine32; the tests then run
  # a 64-bit build of the same programs under wine64.
  packages+=(wine64)
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The Windows programs carry zstd compiled by CMake with MinGW-w64 from
# Debian's own source package, the version the Linux side links, unpacked
# where cmake/zstd.cmake looks for it.
zstd_source=/usr/local/src/talve-zstd
fetch_zstd_source() {
  [ "${TALVE_NO_WINDOWS:-0}" != 1 ] && [ ! -f "$zstd_source/lib/zstd.h" ] || return 0
  if ! grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    . /etc/os-release
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$VERSION_CODENAME" "$VERSION_CODENAME" | $sudo tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
    $sudo apt-get update -qq || true
  fi
  local scratch
  scratch=$(mktemp -d)
  (cd "$scratch" && apt-get source -qq zstd >/dev/null)
  $sudo mkdir -p "$(dirname "$zstd_source")"
  $sudo rm -rf "$zstd_source"
  $sudo mv "$scratch"/*zstd-*/ "$zstd_source"
  rm -rf "$scratch"
}

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  fetch_zstd_source
  exit 0
fi

if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
# A mirror in the middle of a sync serves an index that does not match its
# release file; apt then goes on without that index, which is often enough.
for attempt in 1 2 3; do
  $sudo apt-get update -qq && break
  echo "apt-get update failed (attempt $attempt); going on with the indexes it has" >&2
  [ "$attempt" = 3 ] || sleep 20
done
install_missing() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" "${missing[@]}" >/dev/null; }
if ! install_missing; then
  # Without one architecture's security index the i386 libraries Wine needs
  # lag behind their amd64 twins, which must match: take both from the
  # release itself.
  . /etc/os-release
  echo "Installing again from $VERSION_CODENAME's own versions" >&2
  install_missing -t "$VERSION_CODENAME"
fi
fetch_zstd_source
