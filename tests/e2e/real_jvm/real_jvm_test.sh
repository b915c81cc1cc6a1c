#!/usr/bin/env bash
# The launcher on a real Java runtime: the demo installer (a jlink runtime
# packed by talve-pack runtime, the sample installer jar) is run three times
# and the sample jar checks, from the inside, what it was given.
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

if [ $failures -eq 0 ]; then echo "real JVM: 3 runs passed"; fi
exit $((failures > 0))
