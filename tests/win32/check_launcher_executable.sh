#!/bin/sh
# What users of the Windows launcher rely on before it ever runs: a 32-bit
# console program, its manifest inside, and no DLL that Windows would look
# for beside the executable (a downloads folder, when it runs elevated); and
# small, since every installer carries it (stripped, as release builds are).
set -u
exe=$1
objdump=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

file "$exe" | grep -q 'PE32 executable (console) Intel 80386' || fail "not a 32-bit console executable: $(file "$exe")"
grep -q 'requestedExecutionLevel level="highestAvailable" uiAccess="false"' "$exe" ||
  fail "no manifest asking for highestAvailable without UI access"
grep -q 'activeCodePage' "$exe" || fail "the manifest does not declare the UTF-8 code page"
for dll in $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
  case $(echo "$dll" | tr '[:upper:]' '[:lower:]') in
    kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|msvcrt.dll|shell32.dll|ole32.dll) ;;
    *) fail "imports $dll, which is not a system DLL" ;;
  esac
done
largest=307200
size=$(wc -c < "$exe")
[ "$size" -le "$largest" ] || fail "$size bytes, more than the $largest a launcher may weigh"
[ $status -eq 0 ] && echo "ok: $exe ($size bytes)"
exit $status
