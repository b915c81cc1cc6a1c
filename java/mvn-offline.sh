#!/usr/bin/env bash
# Runs Maven on the Java parts without any network: a local repository made
# from Debian's Maven repository (/usr/share/maven-repo, filled by the
# maven-debian-helper, libmaven-*-plugin-java and junit5 packages) and
# settings that declare Maven offline and name no remote repository.
#   java/mvn-offline.sh BUILD_DIR [maven arguments...]
# The repository, settings and build output (BUILD_DIR/maven/target/<module>)
# go to BUILD_DIR/maven; the repository is made
# once and kept (delete BUILD_DIR/maven to make it again).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
shift
mkdir -p "$build/maven"
maven=$(cd "$build/maven" && pwd)
repo=$maven/repository
settings=$maven/settings.xml
system_repo=/usr/share/maven-repo

if [ ! -f "$repo/.made" ]; then
  rm -rf "$repo.new"
  # Links file by file rather than folder by folder: what Maven records
  # about the artifacts it resolves, and what 'install' writes, stay in this
  # repository and never reach the system's.
  cp -r --symbolic-link "$system_repo/." "$repo.new/" 2>/dev/null || {
    mkdir -p "$repo.new"
    (cd "$system_repo" && find -L . -type d -exec mkdir -p "$repo.new/{}" \; &&
      find -L . -type f -exec ln -sf "$system_repo/{}" "$repo.new/{}" \;)
  }
  touch "$repo.new/.made"
  rm -rf "$repo"
  mv "$repo.new" "$repo"
fi

cat > "$settings.new" <<SETTINGS
<settings xmlns="http://maven.apache.org/SETTINGS/1.0.0">
  <localRepository>$repo</localRepository>
  <offline>true</offline>
  <interactiveMode>false</interactiveMode>
</settings>
SETTINGS
mv "$settings.new" "$settings"

# One JVM start is most of a small build's time; the quiet options keep the
# output to warnings, errors and the tests' summaries.
exec mvn -o -B -q -s "$settings" -f "$here/pom.xml" -Dstyle.color=never \
  "-Dtalve.build.dir=$maven/target" "$@"
