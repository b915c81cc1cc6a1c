#!/usr/bin/env bash
# The launcher on a real Java runtime: the demo installer (a jlink runtime
# packed by talve-pack runtime, the sample installer jar, the real checking
# jar) is run three times and the sample jar checks, from the inside, what it
# was given; then a first installation leaves its runtime in a product home
# and a second one reuses it, which the checking jar must accept, and an
# installer whose requirements that runtime does not meet unpacks its own.
#   real_jvm_test.sh SOURCE_DIR BIN_DIR SCRATCH_DIR
set -u
source_dir=$1 bin=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

installer=$("$source_dir/scripts/make-demo-installer.sh" "$bin" "$scratch/build") || { echo "FAIL: could not make the installer"; exit 1; }
cd "$scratch"
mkdir temp
# Product records only where this test puts them, whatever the machine holds.
export KORVU_INVENTORY_LOCATION="$scratch/inventory" CommonProgramFiles="$scratch/common"
unset ALLUSERSPROFILE

out=$(env _JAVA_OPTIONS=-Xmx1m TEMP="$scratch/temp" "$installer" -console -exitCode 3 -multipleInstance 2>&1)
code=$?
[ $code -eq 3 ] || fail "exit code $code instead of 3: $out"
grep -q "Sample installer: all checks passed; exiting with code 3" <<<"$out" || fail "the sample jar's checks: $out"
[ "$(cat sample-exit-script.txt 2>/dev/null)" = "exit script ran" ] || fail "the exit script did not run"
[ -z "$(ls temp)" ] || fail "left in the temporary folder: $(ls temp)"

# The launcher checks a silent file before it unpacks anything.
printf 'answer=1\n' > answers.properties
out=$(TEMP="$scratch/temp" "$installer" -silent answers.properties -exitCode 2 -multipleInstance 2>&1)
code=$?
[ $code -eq 2 ] || fail "silent run: exit code $code instead of 2: $out"
expected="The installation process did not complete successfully.
The installation log is available at the following location : [$scratch/sample-install.log]"
[ "$out" = "$expected" ] || fail "silent failure report: $out"

out=$(TEMP="$scratch/temp" "$installer" -exitCode 0 -multipleInstance 2>&1)
code=$?
[ $code -eq 0 ] || fail "plain run: exit code $code: $out"
[ -z "$(ls temp)" ] || fail "a successful run left its log or directory: $(ls temp)"

home="$scratch/product home"
out=$(KORVU_LOG_LEVEL=INFO TEMP="$scratch/temp" "$installer" -console -installDir "$home" -multipleInstance 2>&1)
code=$?
[ $code -eq 0 ] || fail "first installation: exit code $code: $out"
grep -q "The jvm has been unpacked at the following location" <<<"$out" || fail "first installation did not unpack: $out"
[ "$(cat inventory/talve-demo.talve 2>/dev/null)" = "$home" ] || fail "no product record naming $home"
[ -x "$home/_jvm/bin/java" ] || fail "no runtime kept in $home/_jvm"

out=$(KORVU_LOG_LEVEL=INFO TEMP="$scratch/temp" "$installer" -console -installDir "$home" -multipleInstance 2>&1)
code=$?
[ $code -eq 0 ] || fail "second installation: exit code $code: $out"
grep -qF "A jvm has been found at the following location : $home/_jvm/" <<<"$out" || fail "runtime not reused: $out"
grep -qF "Sample installer: started with runtime $home/_jvm" <<<"$out" || fail "the jar ran elsewhere: $out"
grep -q "The jvm has been unpacked" <<<"$out" && fail "the second installation unpacked: $out"
[ -z "$(ls temp)" ] || fail "left in the temporary folder: $(ls temp)"

echo "java.feature.min=999" > too-new.txt
"$bin/talve-pack" create -o demanding --launcher "$bin/talve-launcher" --runtime "$scratch/build/jvm" \
  --runtime-size 200000000 --jar "$scratch/build/install.jar" --search-installed-runtime \
  --check-jar "$bin/check.jar" --requirements too-new.txt >/dev/null || fail "could not make the demanding installer"
out=$(KORVU_LOG_LEVEL=INFO TEMP="$scratch/temp" ./demanding -console -multipleInstance 2>&1)
code=$?
[ $code -eq 0 ] || fail "demanding installer: exit code $code: $out"
grep -qF "The jvm located in \"$home/_jvm\" is not valid" <<<"$out" || fail "the runtime was not refused: $out"
grep -q "The jvm has been unpacked" <<<"$out" || fail "the demanding installer did not unpack: $out"

# The checking jar's answers on the jlink runtime: 32 fits, 33 does not, 34 unusable requirements.
java="$scratch/build/runtime/bin/java"
feature=$("$java" -XshowSettings:properties -version 2>&1 | sed -n 's/^ *java.specification.version = //p')
vendor=$("$java" -XshowSettings:properties -version 2>&1 | sed -n 's/^ *java.vendor = //p')
answer() { printf '%b' "$1" > req-case.txt; "$java" -jar "$bin/check.jar" req-case.txt >/dev/null 2>&1; echo $?; }
while IFS='|' read -r expected requirements; do
  got=$(answer "$requirements")
  [ "$got" = "$expected" ] || fail "checking jar answered $got instead of $expected to: $requirements"
done <<EOF2
32|# comment\n\njava.feature.min=$feature\r\njava.feature.max=$feature\nmodule=java.base\njava.vendor.contains=${vendor:0:3}\n
32|
33|java.feature.min=$((feature + 1))
33|java.feature.max=$((feature - 1))
33|module=java.desktop.absent
33|java.vendor.contains=no such vendor
34|colour=blue
34|java.feature.min=seventeen
34|module
EOF2
"$java" -jar "$bin/check.jar" no-such-file.txt >/dev/null 2>&1
[ $? -eq 34 ] || fail "checking jar: a missing requirement file does not give 34"

if [ $failures -eq 0 ]; then echo "real JVM: 6 runs and the checking jar's answers passed"; fi
exit $((failures > 0))
