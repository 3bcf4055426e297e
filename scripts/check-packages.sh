#!/usr/bin/env bash
# Checks the packages scripts/package.sh left in dist/, as a user gets them:
# - the .deb passes lintian without errors, unpacks (dpkg-deb -x) into a
#   scratch root with the programs, man pages and copyright file in place,
#   and its taxoscope-cli and taxoscope-sim print the version and make the
#   same report as the tested native build; its taxoscope-server comes with
#   its systemd unit, its options as a conffile and its system user, and
#   serves a dump sent by its taxoscope-cli on the loopback;
# - each Windows zip lists taxoscope.exe, taxoscope-cli.exe (of its
#   architecture, with their version information), README.txt and
#   LICENSE.txt in CR LF;
# - the tar.gz holds the programs and LICENSE.
#   scripts/check-packages.sh [NATIVE-BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
native=$(realpath "${1:-build}")
version=$(sed -n 's/^project(taxoscope VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist=$PWD/dist
failures=0

fail() {
  echo "check-packages: $*" >&2
  failures=$((failures + 1))
}
need_file() {
  [ -f "$1" ] || { echo "check-packages: $1 is missing; run scripts/package.sh" >&2; exit 1; }
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- The Debian package ---
deb=$dist/taxoscope_${version}_amd64.deb
need_file "$deb"
need_file "$native/taxoscope-cli"
echo "check-packages: lintian $(basename "$deb")"
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"

root=$work/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/taxoscope-cli usr/bin/taxoscope-sim usr/bin/taxoscope-server \
            usr/share/man/man1/taxoscope-cli.1.gz usr/share/man/man1/taxoscope-sim.1.gz \
            usr/share/man/man1/taxoscope-server.1.gz usr/share/doc/taxoscope/copyright \
            usr/share/doc/taxoscope/docs/server.md usr/share/doc/taxoscope/taxoscope-alerts.yml \
            lib/systemd/system/taxoscope-server.service \
            etc/taxoscope/server.conf usr/lib/sysusers.d/taxoscope.conf; do
  [ -f "$root/$file" ] || fail "the .deb lacks /$file"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles 2>/dev/null | grep -qx /etc/taxoscope/server.conf ||
  fail "/etc/taxoscope/server.conf is not a conffile"
grep -q '^ExecStart=/usr/bin/taxoscope-server serve --state /var/lib/taxoscope ' \
  "$root/lib/systemd/system/taxoscope-server.service" || fail "the unit does not run the server on its state"
for tool in taxoscope-cli taxoscope-sim taxoscope-server; do
  got=$("$root/usr/bin/$tool" --version) || fail "$tool --version ended with status $?"
  [ "$got" = "$tool $version" ] || fail "$tool --version printed '$got', not '$tool $version'"
done
# The packaged programs against the tested build: the same report bytes.
mkdir "$work/packaged" "$work/tested"
"$root/usr/bin/taxoscope-sim" generate --seed 21 --out "$work/packaged/shop.bin" >/dev/null
cp "$work/packaged/shop.bin" "$work/tested/shop.bin"
"$root/usr/bin/taxoscope-cli" report "$work/packaged/shop.bin" 2>/dev/null ||
  fail "the packaged taxoscope-cli report ended with status $?"
"$native/taxoscope-cli" report "$work/tested/shop.bin" 2>/dev/null
cmp -s "$work/packaged/shop.bin.txt" "$work/tested/shop.bin.txt" ||
  fail "the packaged taxoscope-cli's report differs from the tested build's"
# The packaged server on a port of its own choosing, fed by the packaged client.
state=$work/server-state
"$root/usr/bin/taxoscope-server" token add check --role admin --state "$state" >"$work/token" 2>/dev/null ||
  fail "the packaged taxoscope-server token add ended with status $?"
"$root/usr/bin/taxoscope-server" serve --state "$state" --listen 127.0.0.1:0 2>"$work/server.log" &
server_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$work/server.log")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  fail "the packaged taxoscope-server did not start: $(cat "$work/server.log")"
else
  sent=$("$root/usr/bin/taxoscope-cli" send "http://127.0.0.1:$port" "$work/packaged/shop.bin" --device SHOP \
         --token-file "$work/token" 2>&1) || fail "the packaged taxoscope-cli send ended with status $?: $sent"
  case $sent in *": device SHOP, "*" new, 0 already in the ledger, 0 repaired, 0 conflicts") ;;
    *) fail "the packaged server's add said '$sent'" ;; esac
fi
kill "$server_pid" 2>/dev/null || true
wait "$server_pid" || fail "the packaged taxoscope-server did not end cleanly on SIGTERM"

echo "check-packages: $(basename "$deb"): $("$root/usr/bin/taxoscope-cli" --version)," \
     "$(dpkg-deb -f "$deb" Depends)"

# --- The Windows zips ---
for arch in win32 win64; do
  zip=$dist/taxoscope-$version-$arch.zip
  need_file "$zip"
  echo "check-packages: $(basename "$zip")"
  unzip -l "$zip"
  top=taxoscope-$version-$arch
  listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
  expected="$top/LICENSE.txt $top/README.txt $top/taxoscope-cli.exe $top/taxoscope.exe "
  [ "$listed" = "$expected" ] || fail "$arch zip holds '$listed', not '$expected'"
  unzip -q "$zip" -d "$work/$arch"
  for text in README.txt LICENSE.txt; do
    # Every line ends in CR LF.
    if LC_ALL=C grep -q $'[^\r]$\|^$' "$work/$arch/$top/$text"; then
      fail "$arch $text has lines without CR LF"
    fi
  done
  machine="Intel 80386"
  [ $arch = win64 ] && machine="x86-64"
  for exe in taxoscope.exe taxoscope-cli.exe; do
    file -b "$work/$arch/$top/$exe" | grep -q "$machine" || fail "$arch $exe is not for $machine"
    strings -a -el "$work/$arch/$top/$exe" | grep -A1 -x ProductVersion | grep -qx "$version" ||
      fail "$arch $exe has no version information for $version"
  done
done

# --- The Linux archive ---
tgz=$dist/taxoscope-$version-linux-x86_64.tar.gz
need_file "$tgz"
top=taxoscope-$version-linux-x86_64
for file in bin/taxoscope-cli bin/taxoscope-sim bin/taxoscope-server LICENSE share/man/man1/taxoscope-cli.1.gz; do
  tar -tzf "$tgz" "$top/$file" >/dev/null 2>&1 || fail "$(basename "$tgz") lacks $top/$file"
done

if [ $failures -ne 0 ]; then
  echo "check-packages: $failures problems" >&2
  exit 1
fi
echo "check-packages: all packages of $version are sound"
