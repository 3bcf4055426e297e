#!/usr/bin/env bash
# The SQLite amalgamation (sqlite3.c, sqlite3.h; SQLite 3.51.1, public domain)
# that the Windows builds compile into the programs: Debian has no SQLite for
# MinGW. A pinned copy ships in the npm package better-sqlite3 (deps/sqlite3/);
# the package and both files must match third_party/sqlite-amalgamation.sha256.
# They land in third_party/sqlite/, which git ignores and the MinGW toolchain
# files point to. Nothing is fetched when the files are there and sound.
set -euo pipefail
cd "$(dirname "$0")/.."
package=better-sqlite3
version=12.5.0
sums=$PWD/third_party/sqlite-amalgamation.sha256
dest=$PWD/third_party/sqlite

files_sound() {
  [ -f "$dest/sqlite3.c" ] && [ -f "$dest/sqlite3.h" ] &&
    (cd "$dest" && grep ' sqlite3\.[ch]$' "$sums" | sha256sum --check --quiet --status)
}
files_sound && exit 0

command -v npm >/dev/null || { echo "fetch-sqlite: npm is needed (scripts/install-deps.sh)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "fetch-sqlite: fetching $package@$version from the npm registry" >&2
(cd "$work" && npm pack --silent "$package@$version" >/dev/null)
(cd "$work" && grep " $package-$version\.tgz\$" "$sums" | sha256sum --check --quiet) ||
  { echo "fetch-sqlite: $package-$version.tgz does not match $sums" >&2; exit 1; }
tar -xzf "$work/$package-$version.tgz" -C "$work" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
(cd "$work/package/deps/sqlite3" && grep ' sqlite3\.[ch]$' "$sums" | sha256sum --check --quiet) ||
  { echo "fetch-sqlite: the amalgamation in $package-$version does not match $sums" >&2; exit 1; }
mkdir -p "$dest"
cp "$work/package/deps/sqlite3/sqlite3.c" "$work/package/deps/sqlite3/sqlite3.h" "$dest/"
echo "fetch-sqlite: SQLite amalgamation in $dest" >&2
