#!/bin/sh
# Installers signed the way a release signs them, with a throw-away
# certificate made here and no timestamping (no network): a packed and then
# signed installer verifies, a signed stub is packed without its signature so
# that the installer signs cleanly, and verify-signed tells the real pair
# from one with a payload byte changed.
#   signed_installer_test.sh TALVE_PACK WINDOWS_LAUNCHER
# Exit code 77 (skipped) without openssl or osslsigncode.
set -u
pack=$1
launcher=$2
for tool in openssl osslsigncode; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/talve-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

# A CA and a code-signing certificate it issued, valid for this run only.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throw-away test CA" \
  -keyout "$work/ca.key" -out "$work/ca.pem" >/dev/null 2>&1 || { echo "FAIL: openssl CA"; exit 1; }
openssl req -newkey rsa:2048 -nodes -subj "/CN=Throw-away test signer" \
  -keyout "$work/signer.key" -out "$work/signer.csr" >/dev/null 2>&1 || { echo "FAIL: openssl request"; exit 1; }
printf 'extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature\n' > "$work/ext.cnf"
openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
  -extfile "$work/ext.cnf" -out "$work/signer.pem" >/dev/null 2>&1 || { echo "FAIL: openssl signing"; exit 1; }

sign() { # in out
  osslsigncode sign -certs "$work/signer.pem" -key "$work/signer.key" -h sha256 -in "$1" -out "$2" > "$work/sign.log" 2>&1
}
verify() { # file
  osslsigncode verify -CAfile "$work/ca.pem" -in "$1" > "$work/verify.log" 2>&1
}

head -c 300000 /dev/urandom > "$work/install.jar"
printf 'data' > "$work/data.jar"
"$pack" create -o "$work/setup.exe" --launcher "$launcher" --jar "$work/install.jar" --data "$work/data.jar" \
  > "$work/pack.log" 2>&1 || fail "talve-pack create: $(cat "$work/pack.log")"

# Packed, then signed: verifies, and the table lies wholly in the signed part.
sign "$work/setup.exe" "$work/setup-signed.exe" || fail "signing the installer: $(cat "$work/sign.log")"
grep -q "Ignoring" "$work/sign.log" && fail "signing warned: $(cat "$work/sign.log")"
verify "$work/setup-signed.exe" || fail "the signed installer does not verify: $(cat "$work/verify.log")"
"$pack" list "$work/setup-signed.exe" > "$work/list.log" 2>&1 || fail "list of the signed installer: $(cat "$work/list.log")"
grep -q "^signature: certificate table at offset" "$work/list.log" || fail "list shows no signature: $(cat "$work/list.log")"
grep -q "^every payload lies in the signed part" "$work/list.log" || fail "list: $(cat "$work/list.log")"

# verify-signed: the real pair, then the unsigned file with one payload byte changed.
"$pack" verify-signed "$work/setup.exe" "$work/setup-signed.exe" > "$work/vs.log" 2>&1 ||
  fail "verify-signed refuses the real pair: $(cat "$work/vs.log")"
size=$(wc -c < "$work/setup.exe")
at=$((size - 1000))
cp "$work/setup.exe" "$work/changed.exe"
printf 'X' | dd of="$work/changed.exe" bs=1 seek=$at conv=notrunc 2>/dev/null
cmp -s "$work/setup.exe" "$work/changed.exe" && printf 'Y' | dd of="$work/changed.exe" bs=1 seek=$at conv=notrunc 2>/dev/null
"$pack" verify-signed "$work/changed.exe" "$work/setup-signed.exe" > "$work/vs.log" 2>&1
code=$?
[ $code -eq 1 ] || fail "verify-signed of a changed pair: exit $code, not 1: $(cat "$work/vs.log")"
grep -q "the files differ at offset $at\$" "$work/vs.log" || fail "verify-signed names no offset $at: $(cat "$work/vs.log")"

# A signed stub: packed without its signature, and the installer signs cleanly.
sign "$launcher" "$work/signed-stub.exe" || fail "signing the stub: $(cat "$work/sign.log")"
"$pack" create -o "$work/from-signed.exe" --launcher "$work/signed-stub.exe" --jar "$work/install.jar" \
  > "$work/pack.log" 2>&1 || fail "create with a signed stub: $(cat "$work/pack.log")"
grep -q "signed-stub.exe: the launcher's signature is left out; sign the installer instead" "$work/pack.log" ||
  fail "no line about the left-out signature: $(cat "$work/pack.log")"
"$pack" list "$work/from-signed.exe" 2>&1 | grep -q "^signature: none" || fail "the installer kept the stub's signature"
verify "$work/from-signed.exe" && fail "an unsigned installer verifies"
grep -q "invalid PE checksum\|Calculated PE checksum.*MISMATCH" "$work/verify.log" && fail "checksum wrong: $(cat "$work/verify.log")"
sign "$work/from-signed.exe" "$work/from-signed-signed.exe" || fail "signing: $(cat "$work/sign.log")"
grep -q "Ignoring" "$work/sign.log" && fail "signing warned: $(cat "$work/sign.log")"
verify "$work/from-signed-signed.exe" || fail "does not verify: $(cat "$work/verify.log")"
grep -qi "warning" "$work/verify.log" && fail "verify warned: $(cat "$work/verify.log")"

# A stub whose certificate table does not end the file is refused.
cp "$work/signed-stub.exe" "$work/damaged-stub.exe"
printf 'appended' >> "$work/damaged-stub.exe"
"$pack" create -o "$work/from-damaged.exe" --launcher "$work/damaged-stub.exe" --jar "$work/install.jar" \
  > "$work/pack.log" 2>&1
code=$?
[ $code -eq 1 ] || fail "a damaged stub: exit $code, not 1"
grep -q "a damaged signature: the certificate table .* is not at the end of the file: 8 bytes follow it" "$work/pack.log" ||
  fail "no clear refusal: $(cat "$work/pack.log")"
[ -e "$work/from-damaged.exe" ] && fail "an installer was written from a damaged stub"

[ $status -eq 0 ] && echo "ok: signed installers"
exit $status
