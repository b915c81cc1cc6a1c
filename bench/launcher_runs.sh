# Shared by the runtime search benchmarks, sourced first; prepare_target
# sets what the rest uses: work (the folder with "setup" and "temp" in it)
# and prefix (the Wine prefix, empty for a native run).

# Sets host, bin, suffix and prefix for a native run or, given "wine", one
# under Wine; checks that the programs are built and makes work, under Wine
# on the prefix's drive C:, whose folders only this user may change.
prepare_target() {
  host=$PWD/build/linux/bin
  bin=$host suffix="" prefix=""
  if [ "$1" = wine ]; then
    . bench/wine_target.sh
    [ -n "$wine" ] || { echo "this machine cannot start wine" >&2; exit 1; }
    bin=$PWD/$windows_build/bin suffix=.exe prefix=$PWD/build/linux/wine-prefix
    [ -d "$prefix/drive_c" ] || { echo "run the test suite's Wine tests first ($prefix missing)" >&2; exit 1; }
  fi
  local program
  for program in "$host/talve-pack" "$bin/talve-launcher$suffix" "$bin/talve_probe$suffix" "$bin/talve-unpack$suffix"; do
    [ -x "$program" ] || { echo "build the linux and windows presets first ($program missing)" >&2; exit 1; }
  done
  work=$(mktemp -d ${prefix:+-p "$prefix/drive_c"})
  trap 'rm -rf "$work"' EXIT
  chmod 0755 "$work"
}

# An installer that searches for an installed runtime before it unpacks the
# one it carries (the probe), with a checking jar: $work/setup (.exe under
# Wine), and $work/temp for its runs.
make_searching_installer() {
  mkdir -p "$work/carried/bin" "$work/temp"
  cp "$bin/talve_probe$suffix" "$work/carried/bin/java$suffix"
  echo "java.bin.path=bin/java$suffix" > "$work/carried/jvm.properties"
  local size
  size=$("$host/talve-pack" runtime "$work/carried" -o "$work/jvm" --unpacker "$bin/talve-unpack$suffix" | head -n 1)
  echo jar > "$work/install.jar"; echo check > "$work/check.jar"; echo "java.feature.min=8" > "$work/req.txt"
  "$host/talve-pack" create -o "$work/setup$suffix" --launcher "$bin/talve-launcher$suffix" --jar "$work/install.jar" \
    --runtime "$work/jvm" --runtime-size "$size" --search-installed-runtime \
    --check-jar "$work/check.jar" --requirements "$work/req.txt" >/dev/null
}

# The path the launcher sees for a host path.
seen() { if [ -n "$prefix" ]; then local p=${1#"$prefix/drive_c/"}; echo "C:\\${p//\//\\}"; else echo "$1"; fi; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
one() { # folder, then what runs the launcher
  local folder=$1; shift
  local s e
  s=$(date +%s%N)
  if [ -n "$prefix" ]; then
    env -i PATH=/usr/bin:/bin HOME="$HOME" WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
      TALVE_TEST_TEMP="$(seen "$work/temp")" TALVE_TEST_TMP="$(seen "$work/temp")" \
      KORVU_INVENTORY_LOCATION="$(seen "$folder")" TALVE_TEST_CommonProgramFiles="$(seen "$work/empty")" \
      TALVE_TEST_ALLUSERSPROFILE="$(seen "$work/empty")" PROBE_CHECK_EXIT=32 \
      "$wine" "$work/setup.exe" -multipleInstance -noSplashScreen >/dev/null 2>&1
  else
    env -i PATH=/usr/bin:/bin TEMP="$work/temp" KORVU_INVENTORY_LOCATION="$folder" CommonProgramFiles="$work/empty" \
      PROBE_CHECK_EXIT=32 "$@" "$work/setup" -multipleInstance -noSplashScreen >/dev/null 2>&1
  fi
  e=$(date +%s%N)
  echo $(( (e - s) / 1000000 ))
}

# Calls the caller's measure for each way the machine can run the launcher:
# elevated under Wine, as root and as nobody, or as the user alone. $1 says
# what an elevated run judges, $2 what an unvetted run does.
measure_each() {
  if [ -n "$prefix" ]; then
    measure "under Wine (elevated: $1)"
  elif [ "$(id -u)" = 0 ]; then
    measure "as root ($1)"
    if command -v setpriv >/dev/null; then
      measure "as nobody ($2)" setpriv --reuid=nobody --regid=nogroup --clear-groups
    fi
  else
    measure "as $(id -un) ($2)"
  fi
}
