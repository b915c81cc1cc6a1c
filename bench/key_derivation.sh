#!/usr/bin/env bash
# Time of one derivation of a user's key: talve-pack decrypt with a user's
# key less the same command with the program's key (no derivation), median
# of several runs, natively and, when built, under Wine.
#   bench/key_derivation.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
measure() { # label, then the talve-pack command
  local label=$1; shift
  local user program
  user=$("$@" encrypt --key Alice2024key x | tr -d "\r")
  program=$("$@" encrypt --program-key x | tr -d "\r")
  one() { local s e; s=$(date +%s%N); "$@" >/dev/null; e=$(date +%s%N); echo $(( (e - s) / 1000000 )); }
  local with without
  with=$(for _ in $(seq "$runs"); do one "$@" decrypt --key Alice2024key "$user"; done | median)
  without=$(for _ in $(seq "$runs"); do one "$@" decrypt --program-key "$program"; done | median)
  echo "$label: one derivation $(( with - without )) ms (decrypt with a user's key $with ms, with the program's key $without ms, median of $runs)"
}
measure "Linux" build/linux/bin/talve-pack
if [ -x build/windows/bin/talve-pack.exe ] && command -v wine >/dev/null; then
  export WINEPREFIX=${WINEPREFIX:-$PWD/build/linux/wine-prefix} WINEDEBUG=-all
  measure "Windows under Wine" wine build/windows/bin/talve-pack.exe
fi
