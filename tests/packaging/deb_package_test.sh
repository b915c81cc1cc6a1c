#!/usr/bin/env bash
# The .deb as a user gets it: built by CPack, installed with dpkg into /usr,
# the installed talve-pack packing a runtime and making an installer with the
# installed stub, the installer run, then the package removed leaving no
# file behind. Skipped (77) where dpkg cannot install, or where something
# already sits at the kit's paths: the test must never replace or remove
# files it did not put there.
#   deb_package_test.sh BUILD_DIR PROBE SCRATCH_DIR
set -u
build=$1 probe=$2 scratch=$3
package=talve-launcher

if [ "${TALVE_KIT_SANITIZED:-0}" = 1 ]; then
  echo "SKIP: a sanitizer build is not packaged (the kit ships the tools of the linux preset)"; exit 77
fi
[ "$(id -u)" -eq 0 ] && command -v dpkg >/dev/null && command -v cpack >/dev/null && command -v flock >/dev/null ||
  { echo "SKIP: needs root, dpkg, cpack and flock"; exit 77; }
# RESOURCE_LOCK serialises one ctest only; other build trees on this machine
# run the same test, and /usr is shared by all of them.
exec 9>>/run/lock/talve-launcher-deb-package-test.lock
flock -n 9 || { echo "SKIP: another build tree is testing the $package package on this machine"; exit 77; }
if dpkg -s "$package" >/dev/null 2>&1; then echo "SKIP: $package is known to dpkg on this machine"; exit 77; fi
for path in /usr/bin/talve-pack /usr/bin/talve-unpack /usr/lib/talve /usr/share/talve /usr/share/doc/$package \
            /usr/share/man/man1/talve-pack.1 /usr/share/man/man1/talve-installer.1 /usr/share/java/talve-installer.jar; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "SKIP: $path exists already"; exit 77; fi
done

rm -rf "$scratch" && mkdir -p "$scratch"
installed=0
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Other jobs on this machine run apt-get: wait out their hold on dpkg's lock.
dpkg_retrying() {
  local tries=0 out
  while :; do
    out=$(dpkg "$@" 2>&1) && return 0
    grep -q "lock" <<<"$out" && [ $tries -lt 150 ] || { echo "$out"; return 1; }
    tries=$((tries + 1)); sleep 2
  done
}
# Under the lock and unknown to dpkg before: whatever dpkg knows of the
# package afterwards is ours to remove, a half-done install included.
cleanup() {
  if [ $installed -eq 1 ] && dpkg -s "$package" >/dev/null 2>&1; then dpkg_retrying -r "$package" >/dev/null; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# The kit always carries the installer library: without it cpack stops and
# names the command that makes it.
if ! ls "$build"/java/maven/target/talve-installer/talve-installer-*.jar >/dev/null 2>&1; then
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 &&
    { echo "FAIL: cpack made a package without the installer library"; exit 1; }
  # CMake wraps its messages: the words are looked for across line ends.
  tr -s ' \n' '  ' <"$scratch/cpack.log" | grep -q -- "--target maven-install" || { cat "$scratch/cpack.log"; echo "FAIL: cpack does not say how to make the library"; exit 1; }
  echo "SKIP: the installer library is not built (cpack stopped, naming maven-install, as it should)"; exit 77
fi
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$scratch"/pkg/*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { echo "FAIL: cpack made no .deb"; exit 1; }
contents=$(dpkg-deb -c "$deb")
case "$contents" in *"$build"*|*" ./home/"*|*" ./work/"*) fail "the package carries paths of the build: $contents";; esac

installed=1
dpkg_retrying -i "$deb" || { echo "FAIL: dpkg -i"; exit 1; }
dpkg -L "$package" >"$scratch/files"
for expected in /usr/bin/talve-pack /usr/bin/talve-unpack /usr/lib/talve/linux/talve-launcher \
                /usr/share/man/man1/talve-pack.1 /usr/share/man/man1/talve-installer.1 /usr/share/java/talve-installer.jar \
                /usr/share/doc/$package/README.md /usr/share/talve/TalveProtectedValue.java; do
  grep -qx "$expected" "$scratch/files" || fail "dpkg -L does not list $expected"
  [ -e "$expected" ] || fail "$expected not installed"
done
if [ "${TALVE_KIT_EXPECT_WINDOWS:-0}" = 1 ]; then
  for expected in /usr/lib/talve/windows/talve-launcher.exe /usr/lib/talve/windows/talve-unpack.exe; do
    [ -f "$expected" ] || fail "$expected not installed"
  done
fi
if command -v jar >/dev/null; then
  jar tf /usr/share/java/talve-installer.jar | grep -qx "org/talve/installer/LauncherContext.class" ||
    fail "/usr/share/java/talve-installer.jar is not the installer library"
fi
# Debug information is for the build's tests: the package's programs go without.
for program in /usr/bin/talve-pack /usr/bin/talve-unpack /usr/lib/talve/linux/talve-launcher; do
  sections=$(readelf -S --wide "$program" 2>&1)
  case "$sections" in *" .symtab "*|*" .debug_info "*) fail "$program is not stripped";; esac
done
version=$(/usr/bin/talve-pack --version)
[ "$version" = "talve-pack $(dpkg-deb -f "$deb" Version)" ] || fail "talve-pack --version printed '$version'"
man -l /usr/share/man/man1/talve-pack.1 2>/dev/null | grep -q "talve-pack create" || fail "the man page does not render"
man -l /usr/share/man/man1/talve-installer.1 2>/dev/null | grep -q "KORVU_LOG_LEVEL" || fail "the installer's man page does not render"
# Every command talve-pack names, and every option each command's help
# names, is in its man page.
manual=$(sed 's/\\-/-/g' /usr/share/man/man1/talve-pack.1)
commands=$(/usr/bin/talve-pack --help | sed -n 's/^  \([a-z-]*\)  .*/\1/p')
[ -n "$commands" ] || fail "talve-pack --help lists no command"
for command in $commands; do
  grep -q "talve-pack $command" <<<"$manual" || fail "the man page misses the command $command"
  for option in $(/usr/bin/talve-pack "$command" --help 2>&1 | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$manual" || fail "the man page misses $command $option"
  done
done
for option in $(/usr/bin/talve-pack --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$manual" || fail "the man page misses talve-pack $option"
done

# The fake runtime records what the installer jar would receive.
mkdir -p "$scratch/runtime/bin" "$scratch/temp" "$scratch/run"
cp "$probe" "$scratch/runtime/bin/java" && chmod 755 "$scratch/runtime/bin/java"
echo "installer jar" >"$scratch/install.jar"
cd "$scratch/run"
/usr/bin/talve-pack runtime "$scratch/runtime" -o "$scratch/jvm" >/dev/null || fail "installed talve-pack runtime"
/usr/bin/talve-pack create -o "$scratch/setup" --launcher /usr/lib/talve/linux/talve-launcher \
  --runtime "$scratch/jvm" --jar "$scratch/install.jar" || fail "installed talve-pack create"
/usr/bin/talve-pack list "$scratch/setup" | grep -q "install.jar" || fail "talve-pack list does not show the jar"
env PROBE_EXIT=7 PROBE_RECORD="$scratch/record" TEMP="$scratch/temp" "$scratch/setup" -multipleInstance >"$scratch/run.log" 2>&1
code=$?
[ $code -eq 7 ] || fail "the installer exited with $code instead of the jar's 7: $(cat "$scratch/run.log")"
[ -s "$scratch/record" ] || fail "the installer jar did not run"
cd /

dpkg_retrying -r "$package" || fail "dpkg -r"
installed=0
dpkg -s "$package" >/dev/null 2>&1 && fail "$package still known to dpkg after -r"
while read -r path; do
  [ -f "$path" ] || [ -L "$path" ] && fail "left after dpkg -r: $path"
done <"$scratch/files"
for left in /usr/lib/talve /usr/share/talve /usr/share/doc/$package /var/lib/dpkg/info/$package.*; do
  [ -e "$left" ] && fail "left after dpkg -r: $left"
done

[ $failures -eq 0 ] && echo "deb package: built, installed, used and removed cleanly"
exit $((failures > 0))
