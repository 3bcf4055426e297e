#!/usr/bin/env bash
# Peak memory of `taxoscope-cli report` and of `taxoscope-cli export` in each
# format on a full-size dump (2,101,247 bytes, about 6,000 daily reports).
# Goal: under 16 MB each.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j2 --target taxoscope-cli taxoscope-sim >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/taxoscope-sim" generate --out "$work/full.bin" --seed 7 --variant 3 --reports 6500 >/dev/null 2>&1
dump_size=$(stat -c %s "$work/full.bin")
over=0
measure() {  # name, output file, command arguments...
  local name=$1 output=$2
  shift 2
  /usr/bin/time -f '%M' -o "$work/peak" "$build/taxoscope-cli" "$@" 2>/dev/null
  local peak_kb
  peak_kb=$(tail -n 1 "$work/peak")
  local verdict="within the 16 MB goal"
  if [ "$peak_kb" -ge 16384 ]; then verdict="OVER the 16 MB goal"; over=1; fi
  echo "taxoscope-cli $name: dump $dump_size bytes, output $(stat -c %s "$output") bytes, peak RSS ${peak_kb} KB: $verdict"
}
measure report "$work/full.bin.txt" report "$work/full.bin"
measure "export (csv)" "$work/full.bin.csv" export "$work/full.bin"
measure "export --months" "$work/months.csv" export "$work/full.bin" --months --out "$work/months.csv"
measure "export --format json" "$work/full.bin.json" export "$work/full.bin" --format json
measure "export --format html" "$work/full.bin.html" export "$work/full.bin" --format html
exit $over
