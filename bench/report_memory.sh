#!/usr/bin/env bash
# Peak memory of `taxoscope-cli report` on a full-size dump (2,101,247 bytes,
# about 6,000 daily reports). Goal: under 16 MB.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j2 --target taxoscope-cli taxoscope-sim >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/taxoscope-sim" generate --out "$work/full.bin" --seed 7 --variant 3 --reports 6000
/usr/bin/time -f '%M' -o "$work/peak" "$build/taxoscope-cli" report "$work/full.bin" 2>/dev/null
peak_kb=$(tail -n 1 "$work/peak")
size=$(stat -c %s "$work/full.bin.txt")
echo "taxoscope-cli report: dump $(stat -c %s "$work/full.bin") bytes, report $size bytes, peak RSS ${peak_kb} KB"
if [ "$peak_kb" -lt 16384 ]; then echo "within the 16 MB goal"; else echo "OVER the 16 MB goal"; exit 1; fi
