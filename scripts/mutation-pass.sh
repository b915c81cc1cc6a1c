#!/usr/bin/env bash
# A mutation pass over the launcher and the tools: each hand-made mutant below
# (a condition inverted, a step skipped, a constant off by one, a message
# changed) is put into the source, built, and run against the native tests.
# A mutant that no test notices "survives" and wants a test. The source is
# restored after each mutant, and at the end the build is remade clean.
# Usage: scripts/mutation-pass.sh [mutant number...]   (default: all)
# Needs a configured build/linux (cmake --preset linux). Takes a minute or
# two per mutant on a 2-core machine.
set -uo pipefail
cd "$(dirname "$0")/.."

# file | text to find (first occurrence) | replacement | what the mutant does
mutants=$(cat <<'LIST'
src/payload/jar_launch.cpp|if (data.present() && !extractFile(|if (false && !extractFile(|data jar not extracted
src/payload/jar_extractor.cpp|if (size && end > *size)|if (size && end > *size + 1)|payload end checked one byte late
src/payload/jar_extractor.cpp|if (fault.empty() && row.position < tableEnd_)|if (false)|payloads inside the table accepted
src/payload/extraction.cpp|failure = "Failed in fread function"|failure = "Failed in fread"|read failure message changed
src/payload/extraction.cpp|if (free < 1) free = 1;|if (free < 1) free = 0;|unknown free space counted as none
src/payload/extraction.cpp|if (jar.present()) needed += megabytesOf(jar.length) + 1;|if (jar.present()) needed += megabytesOf(jar.length);|jar's extra megabyte dropped
src/payload/jar_launch.cpp|if (jar.data2 == "allow")|if (jar.data2 != "allow")|java arguments allowed when not
src/platform/temp_directory.cpp|if (!lock) continue;|if (false) continue;|directory in use taken over
src/platform/temp_directory.cpp|releaseTemporaryDirectoryLock();\n    if (!tempDir.empty()) {|if (!tempDir.empty()) {|lock kept through clean-up
src/platform/command_line.cpp|quoted.append(backslashes * 2, '\\');|quoted.append(backslashes, '\\');|trailing backslashes not doubled
src/bootstrap/property_map.cpp|referenced == values_.end() ? "@@"|referenced == values_.end() ? ""|unknown reference expands to nothing
src/bootstrap/main_sequence.cpp|if (context.exitCode != 1) context.logger().close();|if (context.exitCode != 0) context.logger().close();|log kept for the wrong runs
src/cmdline/argument_validator.cpp|if (parameter.minValue <= number && number <= parameter.maxValue)|if (parameter.minValue < number && number <= parameter.maxValue)|integer minimum refused
tools/pack/create_command.cpp|(stub.size() + table::alignment - 1) / table::alignment|(stub.size() + table::alignment) / table::alignment|launcher padded a block too far
tools/unpack/archive_reader.cpp|if (crc32Of(entry.linkTarget.data(), entry.linkTarget.size()) != entry.header.dataCrc)|if (false)|link checksum not checked
LIST
)

apply() { # file find replace: replaces the first occurrence, fails when absent
  python3 - "$@" <<'PY'
import sys
path, find, replace = sys.argv[1], sys.argv[2].replace('\\n', '\n'), sys.argv[3].replace('\\n', '\n')
text = open(path).read()
if find not in text:
    sys.exit(1)
open(path, 'w').write(text.replace(find, replace, 1))
PY
}

selected=("$@")
killed=0 survived=0 number=0
survivors=()
while IFS='|' read -r file find replace what; do
  number=$((number + 1))
  if [ ${#selected[@]} -gt 0 ] && ! printf '%s\n' "${selected[@]}" | grep -qx "$number"; then continue; fi
  cp "$file" "$file.unmutated"
  if ! apply "$file" "$find" "$replace"; then
    echo "mutant $number ($what): its text is no longer in $file"
    mv "$file.unmutated" "$file"
    continue
  fi
  if ! cmake --build --preset linux >/dev/null 2>&1; then
    outcome="killed (does not build)"
  elif ctest --preset linux -E 'wine|real_jvm' -j2 --timeout 120 --stop-on-failure >/dev/null 2>&1; then
    outcome="SURVIVED"
  else
    outcome="killed"
  fi
  mv "$file.unmutated" "$file"
  touch "$file"
  echo "mutant $number ($what): $outcome"
  if [ "$outcome" = SURVIVED ]; then survived=$((survived + 1)); survivors+=("$number"); else killed=$((killed + 1)); fi
done <<< "$mutants"

cmake --build --preset linux >/dev/null
total=$((killed + survived))
[ $total -gt 0 ] && echo "killed $killed of $total ($((100 * killed / total))%); survivors: ${survivors[*]:-none}"
