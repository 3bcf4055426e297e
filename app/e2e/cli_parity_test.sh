#!/usr/bin/env bash
# taxoscope-cli.exe under Wine beside the native taxoscope-cli: for the same
# dump, filter and device, the same report bytes, the same messages and the
# same exit statuses. Messages are compared without the CR a Windows console
# line ends with, and with the dump's path in its own platform's spelling.
#   cli_parity_test.sh BUILD-DIR NATIVE-SIM NATIVE-CLI
set -euo pipefail

build=$(cd "$1" && pwd)
sim=$(realpath "$2")
cli=$(realpath "$3")
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
wine_cli=("$scripts/wine-run" --prefix "$build/wineprefix" "$build/taxoscope-cli.exe")

work=$(mktemp -d "$build/parity.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/native" "$work/windows"
failures=0
checks=0

note_failure() {
  echo "cli parity: $*" >&2
  failures=$((failures + 1))
}

# run SIDE DIR COMMAND...: output in DIR/out, DIR/err, status in DIR/status.
run() {
  local dir=$1
  shift
  local status=0
  (cd "$dir" && "$@" > out 2> err) || status=$?
  echo "$status" > "$dir/status"
  tr -d '\r' < "$dir/out" > "$dir/out.txt"
  tr -d '\r' < "$dir/err" > "$dir/err.txt"
}

# same CASE ARGS...: one report command on both sides, compared.
same() {
  local name=$1
  shift
  checks=$((checks + 1))
  rm -f "$work"/native/*.txt "$work"/windows/*.txt
  run "$work/native" "$cli" "$@"
  run "$work/windows" "${wine_cli[@]}" "$@"
  for part in status out.txt err.txt; do
    cmp -s "$work/native/$part" "$work/windows/$part" ||
      note_failure "$name: $part differs: native '$(head -c 300 "$work/native/$part")'," \
                   "windows '$(head -c 300 "$work/windows/$part")'"
  done
  local report
  for report in "$work"/native/*.bin.txt; do
    [ -e "$report" ] || continue
    cmp -s "$report" "$work/windows/$(basename "$report")" ||
      note_failure "$name: report $(basename "$report") differs:" \
        "$(diff -a "$report" "$work/windows/$(basename "$report")" | grep -a '^[<>]' | head -2 |
           iconv -f CP1251 -t UTF-8 | tr -d '\r' | tr '\n' ' ')"
  done
  for report in "$work"/windows/*.bin.txt; do
    [ -e "$report" ] || continue
    [ -e "$work/native/$(basename "$report")" ] || note_failure "$name: only Windows wrote $(basename "$report")"
  done
}

# Amounts near the top of the 4-byte counter at rates whose tax is no exact
# binary fraction, over as many reports as fit: every build must round the
# tax sums exactly as IEEE double does, or a total drifts by a cent.
rates=20.00,9.00,7.50,20.00,9.00,7.50,20.00,20.00
for side in native windows; do
  "$sim" generate --seed 11 --out "$work/$side/v3.bin" >/dev/null
  "$sim" generate --seed 12 --variant 2 --reports 300 --out "$work/$side/v2.bin" >/dev/null
  "$sim" generate --seed 21 --reports 65535 --rates $rates --large --out "$work/$side/large3.bin" >/dev/null 2>&1
  "$sim" generate --seed 22 --variant 2 --reports 65535 --rates $rates --large \
    --out "$work/$side/large2.bin" >/dev/null 2>&1
  printf 'not a dump at all' > "$work/$side/junk.bin"
  # For the check: a damaged copy and one the end cuts short.
  cp "$work/$side/v3.bin" "$work/$side/damaged.bin"
  printf 'ZZ' | dd of="$work/$side/damaged.bin" bs=1 seek=500 conv=notrunc 2>/dev/null
  head -c 300000 "$work/$side/v3.bin" > "$work/$side/cut.bin"
done

same "all records, variant 3" report v3.bin
same "all records, variant 2" report v2.bin
same "by date" report v3.bin --by-date 01/03/2010 31/12/2011
same "by date, day rolls over" report v3.bin --by-date 31/04/2010 1/2/2013xyz
same "by number, hex and octal" report v3.bin --by-number 017 0x1A
same "by number, negative" report v2.bin --by-number 5 -1
same "invalid from" report v3.bin --by-date 0/04/2010 abc
same "invalid to" report v3.bin --by-number 1 abc
same "junk dump" report junk.bin
same "missing dump" report missing.bin
same "usage" report
same "unknown option" report v3.bin --sideways
same "help" report --help
same "no command" 
same "unknown command" fly

# A one-cent drift shows most often in short runs, whose sums hold few
# roundings; so all reports, and runs of 1 to 20 reports from each start.
for variant in 3 2; do
  same "large amounts, variant $variant" report large$variant.bin
  for from in $(seq 1 20); do
    same "large amounts, variant $variant, reports $from-$((2 * from))" \
      report large$variant.bin --by-number $from $((2 * from))
  done
done

# read: the native side on the pseudo-terminal, the Windows side on a COM
# port that Wine maps onto another one of the same kind of device.
read_both() {
  local name=$1 seed=$2 options=$3
  shift 3
  checks=$((checks + 1))
  rm -f "$work"/native/1234* "$work"/windows/1234*
  local link="$work/native-line"
  "$sim" generate --seed "$seed" --out "$work/served.bin" >/dev/null
  # shellcheck disable=SC2086
  "$sim" serve --image "$work/served.bin" --link "$link" $options >/dev/null 2>&1 &
  local device=$!
  for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.05; done
  run "$work/native" "$cli" read --port "$link" "$@"
  kill $device 2>/dev/null || true
  wait $device 2>/dev/null || true
  "$scripts/with-sim" --sim "$sim" --prefix "$build/wineprefix" --device PARITY COM31 "--seed $seed" "$options" \
    -- bash -c 'cd "$0" && "$@" > out 2> err; echo $? > status' \
    "$work/windows" "${wine_cli[@]}" read --port COM31 "$@"
  tr -d '\r' < "$work/windows/out" > "$work/windows/out.txt"
  tr -d '\r' < "$work/windows/err" > "$work/windows/err.txt"
  # The dump's path in each platform's spelling.
  sed -i "s|^Z:${work//\//\\\\}\\\\windows\\\\|$work/native/|" "$work/windows/out.txt"
  for part in status out.txt err.txt; do
    cmp -s "$work/native/$part" "$work/windows/$part" ||
      note_failure "$name: $part differs: native '$(head -c 300 "$work/native/$part")'," \
                   "windows '$(head -c 300 "$work/windows/$part")'"
  done
  local file
  for file in 123456.bin 123456.bin.txt; do
    if [ -e "$work/native/$file" ] || [ -e "$work/windows/$file" ]; then
      cmp -s "$work/native/$file" "$work/windows/$file" || note_failure "$name: $file differs"
    fi
  done
}

# read over the network: each side reads its own simulator behind a loopback
# TCP port (raw, or RFC 2217), the Windows side through Winsock.
read_both_net() {
  local name=$1 kind=$2 seed=$3 options=$4
  shift 4
  checks=$((checks + 1))
  rm -f "$work"/native/1234* "$work"/windows/1234*
  "$sim" generate --seed "$seed" --out "$work/served.bin" >/dev/null
  local listen=(--listen 127.0.0.1:0)
  [ "$kind" = rfc2217 ] && listen+=(--rfc2217)
  # shellcheck disable=SC2086
  "$sim" serve --image "$work/served.bin" "${listen[@]}" $options >"$work/native-address" 2>/dev/null &
  local device=$!
  local address=
  for _ in $(seq 100); do
    address=$(head -n 1 "$work/native-address" 2>/dev/null || true)
    [ -n "$address" ] && break
    sleep 0.05
  done
  run "$work/native" "$cli" read --port "$address" "$@"
  kill $device 2>/dev/null || true
  wait $device 2>/dev/null || true
  "$scripts/with-sim" --sim "$sim" --prefix "$build/wineprefix" --device PARITY "$kind" "--seed $seed" "$options" \
    -- bash -c 'cd "$0" && "$@" --port "$TAXOSCOPE_SIM_PARITY" > out 2> err; echo $? > status' \
    "$work/windows" "${wine_cli[@]}" read "$@"
  tr -d '\r' < "$work/windows/out" > "$work/windows/out.txt"
  tr -d '\r' < "$work/windows/err" > "$work/windows/err.txt"
  sed -i "s|^Z:${work//\//\\\\}\\\\windows\\\\|$work/native/|" "$work/windows/out.txt"
  # The addresses differ (a port each); the rest of every message is the same.
  sed -i -E 's#(tcp|rfc2217)://127\.0\.0\.1:[0-9]+#\1://ADDRESS#g' "$work"/native/err.txt "$work"/windows/err.txt
  for part in status out.txt err.txt; do
    cmp -s "$work/native/$part" "$work/windows/$part" ||
      note_failure "$name: $part differs: native '$(head -c 300 "$work/native/$part")'," \
                   "windows '$(head -c 300 "$work/windows/$part")'"
  done
  [ "$(cat "$work/native/status")" = 0 ] || [ "$name" != "${name%, fails}" ] ||
    note_failure "$name: the read failed: $(head -c 300 "$work/native/err.txt")"
  if [ -e "$work/native/123456.bin" ] || [ -e "$work/windows/123456.bin" ]; then
    cmp -s "$work/native/123456.bin" "$work/windows/123456.bin" || note_failure "$name: 123456.bin differs"
    cmp -s "$work/served.bin" "$work/windows/123456.bin" || note_failure "$name: the dump is not the image"
  fi
}

read_both "read" 13 "" --baud 115200
read_both "read by number" 14 "" --baud 57600 --by-number 3 9
read_both "bad receipt" 1 "--mode bad-receipt"
read_both "refused" 1 "--mode refuse" --baud 115200
read_both_net "read, tcp" tcp 13 "" --baud 115200
read_both_net "read, rfc2217" rfc2217 14 "" --baud 57600 --by-number 3 9
read_both_net "read, hang-up, fails" tcp 13 "--mode hang-up"

# The exports, summary and info: the same bytes on standard output, CR LF
# included (the Windows side writes it in binary mode).
same_bytes() {
  same "$@"
  cmp -s "$work/native/out" "$work/windows/out" || note_failure "$1: the bytes on standard output differ"
}
same_bytes "export csv" export v3.bin --out -
same_bytes "export months, excel" export v3.bin --months --excel --by-date 01/03/2010 31/12/2011 --out -
same_bytes "export json" export v2.bin --format json --by-number 5 40 --out -
same_bytes "export html" export v3.bin --format html --out -
same_bytes "summary" summary v3.bin
same_bytes "info" info v3.bin
same "export, invalid to" export v3.bin --by-number 1 abc

# The check: the same findings, forms and exit statuses.
for dump in v3 v2 large3 large2 damaged cut junk; do
  same_bytes "check $dump" check $dump.bin
  same_bytes "check $dump, json" check $dump.bin --format json
done
same_bytes "info, damaged" info damaged.bin
same "check, missing dump" check missing.bin
same "check, usage" check v3.bin --format xml

# The ledger: each side adds the same dumps to a ledger of its own (the
# Windows side with the SQLite compiled in), then the exports of each side's
# ledger and of the other side's file are the same bytes.
same "ledger add" ledger add shop.db v3.bin large3.bin v2.bin
same "ledger add again, another id" ledger add shop.db v3.bin v2.bin --device V3
ledger_exports() {
  local ledger=$1
  same_bytes "ledger export csv ($ledger)" ledger export "$ledger" --out -
  same_bytes "ledger export months ($ledger)" ledger export "$ledger" --months --out -
  same_bytes "ledger export per device, excel ($ledger)" ledger export "$ledger" --months --per-device --excel \
    --by-date 01/03/2010 31/12/2011 --out -
  same_bytes "ledger export json ($ledger)" ledger export "$ledger" --format json --device large3 --device v2 --out -
  same_bytes "ledger export html ($ledger)" ledger export "$ledger" --format html --out -
  same_bytes "ledger summary ($ledger)" ledger summary "$ledger"
  same_bytes "ledger check ($ledger)" ledger check "$ledger" --format json
}
ledger_exports shop.db
cp "$work/native/shop.db" "$work/windows/other.db"
cp "$work/windows/shop.db" "$work/native/other.db"
ledger_exports other.db
same "ledger, not a ledger" ledger devices junk.bin
same "ledger, by number without a device" ledger export shop.db --by-number 1 5

echo "cli parity: $checks cases, $failures differences"
[ $failures -eq 0 ]
