#!/usr/bin/env bash
# Checks the packages scripts/package.sh left in dist/, as a user gets them:
# - the .deb passes lintian without errors, unpacks (dpkg-deb -x) into a
#   scratch root with the programs, man pages and copyright file in place,
#   and its taxoscope-cli and taxoscope-sim print the version and make the
#   same report as the tested native build; its taxoscope-server comes with
#   its systemd unit, its options as a conffile and its system user, and
#   serves a dump sent by its taxoscope-cli on the loopback;
# - as root, the .deb is installed with apt as an office installs it, and
#   the first commands of docs/server.md's "Install" run as written: the
#   state folder is the server's, the token is made, the service enabled
#   and serving on the shipped options; an upgrade restarts the running
#   server, a purge takes its `enable` link away and keeps the records (the
#   machine is left as it was found);
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
service_pid=
trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null; rm -rf "$work"' EXIT

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

# --- The .deb installed as an office installs it ---
# The Install section's commands, as docs/server.md writes them, run in dist/
# (where ./taxoscope_VERSION_amd64.deb is); apt's questions are answered yes.
# Where systemd does not run (a container), the service is started as its
# unit starts it, and the upgrade's restart is seen where a container's
# service actions go: a policy-rc.d (put back as it was afterwards).
install_check() {
  if dpkg -s taxoscope >/dev/null 2>&1; then
    fail "taxoscope is installed on this machine already; the install check needs one without it"
    return
  fi
  local section apt_line token_line enable_line
  section=$(sed -n '/^## Install$/,/^## TLS$/p' docs/server.md)
  apt_line=$(sed -n 's/^    \(sudo apt install .*\)$/\1/p' <<<"$section")
  token_line=$(sed -n 's/^    \(sudo -u taxoscope taxoscope-server token add .*\)$/\1/p' <<<"$section")
  enable_line=$(sed -n 's/^    \(sudo systemctl enable --now taxoscope-server\)$/\1/p' <<<"$section")
  [ "$apt_line" = "sudo apt install ./$(basename "$deb")" ] ||
    { fail "docs/server.md installs with '$apt_line', not ./$(basename "$deb")"; return; }
  [ -n "$token_line" ] && [ -n "$enable_line" ] || { fail "docs/server.md's Install section lost its commands"; return; }
  local systemd=
  [ -d /run/systemd/system ] && systemd=yes

  echo "check-packages: $apt_line"
  (cd "$dist" && { yes || true; } | eval "$apt_line") >"$work/apt.log" 2>&1 || fail "'$apt_line' failed: $(tail -3 "$work/apt.log")"
  [ "$(stat -c '%U:%G %a' /var/lib/taxoscope 2>/dev/null)" = "taxoscope:taxoscope 750" ] ||
    fail "/var/lib/taxoscope is '$(stat -c '%U:%G %a' /var/lib/taxoscope 2>&1)', not taxoscope:taxoscope 750"
  for page in server ledger network export check reliability; do
    [ -f /usr/share/doc/taxoscope/docs/$page.md ] || fail "the installed package lacks docs/$page.md"
  done

  echo "check-packages: $token_line"
  (cd /tmp && eval "$token_line") >"$work/office.token" 2>"$work/token.log" ||
    fail "'$token_line' failed: $(cat "$work/token.log")"
  chmod 600 "$work/office.token"
  [ "$(stat -c %U /var/lib/taxoscope/tokens 2>/dev/null)" = taxoscope ] || fail "the tokens file is not the server's"

  local log=$work/service.log
  if [ -n "$systemd" ]; then
    echo "check-packages: $enable_line"
    eval "$enable_line" || fail "'$enable_line' failed"
  else
    echo "check-packages: ${enable_line% --now*} (no systemd here: started as its unit starts it)"
    eval "${enable_line/ --now/}" >/dev/null 2>&1 || fail "'${enable_line/ --now/}' failed"
    # shellcheck disable=SC1091
    (. /etc/taxoscope/server.conf && umask 027 &&
     exec runuser -u taxoscope -- /usr/bin/taxoscope-server serve --state /var/lib/taxoscope $TAXOSCOPE_SERVER_OPTIONS) \
      2>"$log" &
    service_pid=$!
  fi
  [ -L /etc/systemd/system/multi-user.target.wants/taxoscope-server.service ] || fail "enable made no link"
  local served=
  for _ in $(seq 100); do
    curl -fsS http://127.0.0.1:8640/healthz >/dev/null 2>&1 && { served=yes; break; }
    sleep 0.1
  done
  [ -n "$served" ] || fail "the service does not answer on 127.0.0.1:8640: $(cat "$log" 2>/dev/null)"
  sent=$(/usr/bin/taxoscope-cli send http://127.0.0.1:8640 "$work/packaged/shop.bin" --device SHOP \
         --token-file "$work/office.token" 2>&1) || fail "a send to the installed service ended with status $?: $sent"

  # An upgrade (the same package again) restarts the running server.
  local before=
  [ -n "$systemd" ] && before=$(systemctl show -p MainPID --value taxoscope-server)
  local policy=/usr/sbin/policy-rc.d
  if [ -z "$systemd" ]; then
    [ -e $policy ] && cp -p $policy "$work/policy-rc.d"
    printf '#!/bin/sh\necho "$*" >>%s\nexit 101\n' "$work/invoked" >$policy
    chmod 755 $policy
  fi
  (cd "$dist" && DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "./$(basename "$deb")") \
    >>"$work/apt.log" 2>&1 || fail "the upgrade failed: $(tail -3 "$work/apt.log")"
  if [ -n "$systemd" ]; then
    [ "$(systemctl show -p MainPID --value taxoscope-server)" != "$before" ] || fail "the upgrade did not restart the server"
  else
    if [ -e "$work/policy-rc.d" ]; then mv "$work/policy-rc.d" $policy; else rm -f $policy; fi
    grep -qx 'taxoscope-server.service try-restart' "$work/invoked" 2>/dev/null ||
      fail "the upgrade does not restart a running server (asked: '$(cat "$work/invoked" 2>/dev/null)')"
  fi

  # A purge takes the enable link away and keeps the office's records.
  if [ -n "$service_pid" ]; then
    kill "$service_pid"
    wait "$service_pid" || true
    service_pid=
  fi
  ({ yes || true; } | sudo apt purge taxoscope) >>"$work/apt.log" 2>&1 ||
    fail "the purge failed: $(tail -3 "$work/apt.log")"
  [ ! -e /etc/systemd/system/multi-user.target.wants/taxoscope-server.service ] || fail "the purge left the enable link"
  [ -f /var/lib/taxoscope/ledger.db ] || fail "the purge took the ledger"
}
if [ "$(id -u)" -eq 0 ]; then
  had_user=
  had_state=
  getent passwd taxoscope >/dev/null && had_user=yes
  [ -e /var/lib/taxoscope ] && had_state=yes
  # Called in a list, the check runs every step whatever one of them gives;
  # the machine is then left as it was found.
  install_check || true
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" || true; service_pid=; fi
  if dpkg -s taxoscope >/dev/null 2>&1; then DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq taxoscope >/dev/null 2>&1 || true; fi
  [ -z "$had_state" ] && rm -rf /var/lib/taxoscope
  [ -z "$had_user" ] && { userdel taxoscope 2>/dev/null || true; groupdel taxoscope 2>/dev/null || true; }
else
  echo "check-packages: not root: the install with apt is not checked" >&2
fi

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
