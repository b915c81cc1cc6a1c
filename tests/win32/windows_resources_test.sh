#!/bin/sh
# A Windows installer packed with an icon, version information and an
# execution level, read back with tools that know nothing of talve-pack:
# wrestool and icotool (icoutils) list and extract its resources, strings
# reads the version texts, osslsigncode signs and verifies it. Packing is
# repeatable, the launcher goes in unchanged without these options, and
# the table lies where list says. The kit's programs carry version information.
#   windows_resources_test.sh TALVE_PACK WINDOWS_LAUNCHER ICON
# Exit code 77 (skipped) without the tools.
set -u
pack=$1
launcher=$2
icon=$3
for tool in wrestool icotool openssl osslsigncode strings; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/talve-resources.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

head -c 100000 /dev/urandom > "$work/install.jar"
packed() { # output, options...
  out=$1
  shift
  "$pack" create -o "$work/$out" --launcher "$launcher" --jar "$work/install.jar" "$@" > "$work/pack.log" 2>&1 ||
    fail "talve-pack create $*: $(cat "$work/pack.log")"
}
set -- --icon "$icon" --product-name "Example Setup" --product-version 2.0.13 --file-version 2.0.13.7 \
  --company "Example Corp." --description "Installs Example" --copyright "(c) 2026 Example Corp." \
  --execution-level requireAdministrator
packed setup.exe "$@"
mkdir "$work/again"
packed again/setup.exe "$@"
cmp -s "$work/setup.exe" "$work/again/setup.exe" || fail "packing twice gave other bytes"

# Every image an icon, one group listing them, the version, the manifest.
wrestool -l "$work/setup.exe" > "$work/list.txt" 2>&1 || fail "wrestool -l: $(cat "$work/list.txt")"
for line in "--type=3 --name=1 --language=0" "--type=3 --name=4 --language=0" "--type=14 --name=1 --language=0" \
  "--type=16 --name=1 --language=0" "--type=24 --name=1 --language=1033"; do
  grep -q -- "^$line " "$work/list.txt" || fail "wrestool lists no $line: $(cat "$work/list.txt")"
done
[ "$(grep -c -- '--type=14 ' "$work/list.txt")" -eq 1 ] || fail "not one icon group: $(cat "$work/list.txt")"
wrestool -x --type=14 -o "$work/extracted.ico" "$work/setup.exe" || fail "wrestool cannot extract the icon"
icotool -l "$work/extracted.ico" | sed 's/ --bit-depth.*//' > "$work/sizes.txt"
icotool -l "$icon" | sed 's/ --bit-depth.*//' > "$work/given.txt"
cmp -s "$work/sizes.txt" "$work/given.txt" || fail "the icon's images differ: $(cat "$work/sizes.txt")"
wrestool -x --raw --type=16 "$work/setup.exe" | strings -el > "$work/version.txt"
for text in "VS_VERSION_INFO" "000004b0" "CompanyName" "Example Corp." "FileVersion" "2.0.13.7" "LegalCopyright" \
  "(c) 2026 Example Corp." "OriginalFilename" "setup.exe" "ProductName" "Example Setup" "ProductVersion" "2.0.13" \
  "FileDescription" "Installs Example" "Translation"; do
  grep -qxF "$text" "$work/version.txt" || fail "the version information lacks '$text': $(cat "$work/version.txt")"
done
wrestool -x --raw --type=24 "$launcher" | sed 's/level="highestAvailable"/level="requireAdministrator"/' > "$work/expected.manifest"
wrestool -x --raw --type=24 "$work/setup.exe" > "$work/manifest"
cmp -s "$work/expected.manifest" "$work/manifest" || fail "the manifest changed beyond its level: $(cat "$work/manifest")"

# Without these options the launcher goes in as it was built: only the
# checksum, which covers the whole installer, differs.
packed bare.exe
size=$(wc -c < "$launcher")
differing=$(head -c "$size" "$work/bare.exe" | cmp -l - "$launcher" | wc -l)
[ "$differing" -le 4 ] || fail "the launcher changed without a resource option ($differing bytes)"

# The table lies where list says, on its 1,024-byte boundary, behind the new resources.
"$pack" list "$work/setup.exe" > "$work/table.txt" 2>&1 || fail "list: $(cat "$work/table.txt")"
offset=$(sed -n "s/^table at offset \([0-9]*\) of .*/\1/p" "$work/table.txt")
[ -n "$offset" ] || fail "list names no marker offset: $(cat "$work/table.txt")"
if [ -n "$offset" ]; then
  [ $((offset % 1024)) -eq 0 ] || fail "the marker at $offset is not on a 1,024-byte boundary"
  tail -c +$((offset + 5)) "$work/setup.exe" | head -c 24 | grep -q "_BOOTSTRAP_TABLE_MARKER_" ||
    fail "no marker at offset $offset"
fi

# Signed and verified without a warning; the signed part holds every payload.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throw-away test signer" \
  -keyout "$work/signer.key" -out "$work/signer.pem" >/dev/null 2>&1 || { echo "FAIL: openssl"; exit 1; }
osslsigncode sign -certs "$work/signer.pem" -key "$work/signer.key" -h sha256 -in "$work/setup.exe" \
  -out "$work/signed.exe" > "$work/sign.log" 2>&1 || fail "signing: $(cat "$work/sign.log")"
grep -qi "warning\|Ignoring" "$work/sign.log" && fail "signing warned: $(cat "$work/sign.log")"
osslsigncode verify -CAfile "$work/signer.pem" -in "$work/signed.exe" > "$work/verify.log" 2>&1 ||
  fail "the signed installer does not verify: $(cat "$work/verify.log")"
grep -qi "warning\|mismatch" "$work/verify.log" && fail "verify warned: $(cat "$work/verify.log")"
"$pack" list "$work/signed.exe" 2>&1 | grep -q "^every payload lies in the signed part" || fail "list of the signed installer"
"$pack" verify-signed "$work/setup.exe" "$work/signed.exe" > "$work/vs.log" 2>&1 || fail "verify-signed: $(cat "$work/vs.log")"

# The kit's own programs carry the project's version information.
for program in "$launcher" "$(dirname "$launcher")/talve-unpack.exe" "$(dirname "$launcher")/talve-pack.exe"; do
  [ -f "$program" ] || continue
  wrestool -x --raw --type=16 "$program" | strings -el > "$work/kit.txt"
  name=$(basename "$program")
  for text in ProductName talve-launcher ProductVersion OriginalFilename "$name" FileDescription; do
    grep -qxF "$text" "$work/kit.txt" || fail "$name: no '$text' in its version information: $(cat "$work/kit.txt")"
  done
done

# A damaged icon is refused with its name, and nothing is written.
head -c 6 "$icon" > "$work/cut.ico"
"$pack" create -o "$work/cut.exe" --launcher "$launcher" --jar "$work/install.jar" --icon "$work/cut.ico" \
  > "$work/pack.log" 2>&1
code=$?
[ $code -eq 1 ] || fail "a damaged icon: exit $code, not 1"
grep -qF "$work/cut.ico: not a valid icon file: the list of 4 images is cut short" "$work/pack.log" ||
  fail "no clear refusal: $(cat "$work/pack.log")"
[ -e "$work/cut.exe" ] && fail "an installer was written with a damaged icon"

[ $status -eq 0 ] && echo "ok: Windows resources"
exit $status
