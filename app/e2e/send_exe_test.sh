#!/usr/bin/env bash
# taxoscope-cli.exe send under Wine, over WinHTTP, against the native
# taxoscope-server on the loopback (a port it picks itself): the add lines
# and exit statuses of the native send, and a ledger equal to the native
# `ledger add` of the same dump. The server is stopped on every way out.
#   send_exe_test.sh BUILD-DIR NATIVE-SERVER NATIVE-CLI NATIVE-SIM
set -euo pipefail

build=$(cd "$1" && pwd)
server=$(realpath "$2")
cli=$(realpath "$3")
sim=$(realpath "$4")
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)

work=$(mktemp -d "$build/send.XXXXXX")
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "send-exe: $*" >&2; exit 1; }
win() { echo "Z:${1//\//\\}"; }
exe() {
  "$scripts/wine-run" --prefix "$build/wineprefix" "$build/taxoscope-cli.exe" "$@" 2>"$work/stderr" |
    tr -d '\r'
  return "${PIPESTATUS[0]}"
}

"$server" token add till --role upload --device DV000031 --state "$work/state" >"$work/till.token" 2>/dev/null
"$server" serve --state "$work/state" --listen 127.0.0.1:0 2>"$work/server.log" &
server_pid=$!
port=
for _ in $(seq 200); do
  port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$work/server.log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || fail "the server did not start: $(cat "$work/server.log")"
url=http://127.0.0.1:$port

"$sim" generate --seed 31 --reports 120 --out "$work/DV000031.bin" >/dev/null
dump=$(win "$work/DV000031.bin")
token=$(win "$work/till.token")

out=$(exe send "$url" "$dump" --token-file "$token") || fail "send ended with status $?: $(cat "$work/stderr")"
[ "$out" = "$dump: device DV000031, 120 new, 0 already in the ledger, 0 repaired, 0 conflicts" ] || fail "first send said '$out'"
out=$(exe send "$url" "$dump" --token-file "$token") || fail "the second send ended with status $?"
[ "$out" = "$dump: device DV000031, 0 new, 120 already in the ledger, 0 repaired, 0 conflicts" ] || fail "second send said '$out'"

"$cli" ledger add "$work/reference.db" "$work/DV000031.bin" >/dev/null
[ "$("$cli" ledger export "$work/state/ledger.db" --out -)" = "$("$cli" ledger export "$work/reference.db" --out -)" ] ||
  fail "the server's ledger is not ledger add's"

# The refusals, each with the native send's status.
cp "$work/DV000031.bin" "$work/DV000032.bin"
status=0
exe send "$url" "$(win "$work/DV000032.bin")" --token-file "$token" >/dev/null || status=$?
[ $status -eq 21 ] || fail "another register: status $status, not 21"
grep -q "refused (403)" "$work/stderr" || fail "another register: $(cat "$work/stderr")"
status=0
exe send "http://192.0.2.1:$port" "$dump" >/dev/null || status=$?
[ $status -eq 2 ] || fail "plain http off this machine: status $status, not 2"
status=0
exe send "$url" "$dump" --ca "$token" >/dev/null || status=$?
[ $status -eq 2 ] || fail "--ca on Windows: status $status, not 2"
kill "$server_pid"
wait "$server_pid" || fail "the server did not end cleanly"
server_pid=
status=0
exe send "$url" "$dump" --token-file "$token" >/dev/null || status=$?
[ $status -eq 20 ] || fail "no server: status $status, not 20"
grep -q "no connection to $url" "$work/stderr" || fail "no server: $(cat "$work/stderr")"
echo "send-exe: taxoscope-cli.exe send over WinHTTP: ok"
