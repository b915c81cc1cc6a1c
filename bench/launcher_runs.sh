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
      wine "$work/setup.exe" -multipleInstance -noSplashScreen >/dev/null 2>&1
  else
    env -i PATH=/usr/bin:/bin TEMP="$work/temp" KORVU_INVENTORY_LOCATION="$folder" CommonProgramFiles="$work/empty" \
      PROBE_CHECK_EXIT=32 "$@" "$work/setup" -multipleInstance -noSplashScreen >/dev/null 2>&1
  fi
  e=$(date +%s%N)
  echo $(( (e - s) / 1000000 ))
}
