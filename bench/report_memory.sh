#!/usr/bin/env bash
# Peak memory of `taxoscope-cli report` and of `taxoscope-cli export` in each
# format on a full-size dump (2,101,247 bytes, about 6,000 daily reports),
# goal under 16 MB each; and of `check` (text and JSON, to standard output
# and to a file) and `info` on 2,101,247 bytes of random bytes that still
# hold records whose CRC holds (so they are walked as a dump, and give tens
# of thousands of findings), goal at most 64 MB each.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j2 --target taxoscope-cli taxoscope-sim >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/taxoscope-sim" generate --out "$work/full.bin" --seed 7 --variant 3 --reports 6500 >/dev/null 2>&1
# Random bytes of a fixed seed, behind the first 4,096 bytes of a real dump
# (its model and rate records).
python3 -c '
import random, sys
head = open(sys.argv[1], "rb").read(4096)
sys.stdout.buffer.write(head + random.Random(7).randbytes(2101247 - len(head)))' "$work/full.bin" >"$work/random.bin"
over=0
measure() {  # name, goal in MB, dump, output file, command arguments...
  local name=$1 goal=$2 dump=$3 output=$4
  shift 4
  /usr/bin/time -f '%M' -o "$work/peak" "$build/taxoscope-cli" "$@" >"$work/stdout" 2>/dev/null || true
  local peak_kb
  peak_kb=$(tail -n 1 "$work/peak")
  local verdict="within the $goal MB goal"
  if [ "$peak_kb" -ge $((goal * 1024)) ]; then verdict="OVER the $goal MB goal"; over=1; fi
  echo "taxoscope-cli $name: dump $(stat -c %s "$dump") bytes, output $(stat -c %s "$output") bytes," \
       "peak RSS ${peak_kb} KB: $verdict"
}
full=$work/full.bin random=$work/random.bin
measure report 16 "$full" "$full.txt" report "$full"
measure "export (csv)" 16 "$full" "$full.csv" export "$full"
measure "export --months" 16 "$full" "$work/months.csv" export "$full" --months --out "$work/months.csv"
measure "export --format json" 16 "$full" "$full.json" export "$full" --format json
measure "export --format html" 16 "$full" "$full.html" export "$full" --format html
measure "check (random bytes)" 64 "$random" "$work/stdout" check "$random"
measure "check --format json (random bytes)" 64 "$random" "$work/stdout" check "$random" --format json
measure "check --out (random bytes)" 64 "$random" "$work/check.txt" check "$random" --out "$work/check.txt"
measure "check --format json --out (random bytes)" 64 "$random" "$work/check.json" check "$random" --format json \
  --out "$work/check.json"
measure "info (random bytes)" 64 "$random" "$work/stdout" info "$random"
exit $over
