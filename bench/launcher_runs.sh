# Shared by the runtime search benchmarks, sourced after they set work (the
# folder with "setup" and "temp" in it) and prefix (the Wine prefix, empty
# for a native run).

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
