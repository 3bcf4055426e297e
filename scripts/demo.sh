#!/usr/bin/env bash
# The main job end to end on the built-in simulated device: installs what the
# native build lacks (scripts/install-deps.sh native), builds taxoscope-cli
# and taxoscope-sim if needed, plays the fiscal device on a
# pseudo-terminal, reads its fiscal memory with 'taxoscope-cli read' as the
# Read button would, and shows the turnover report (Windows-1251 on disk,
# UTF-8 here) and the monthly VAT table of 'taxoscope-cli summary'. The
# simulator is stopped on every way out.
#
#   scripts/demo.sh            dump and report land in build/demo/
#   DEMO_RATE=11520 scripts/demo.sh   a real 115,200-baud line (about three minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${TAXOSCOPE_BUILD:-build}
rate=${DEMO_RATE:-460800}

log=$(mktemp)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -f "$log"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# What the native build needs (installed as root, or named with the command
# that installs them).
scripts/install-deps.sh native

echo "Building taxoscope-cli and taxoscope-sim in $build/ ..." >&2
# A new build folder is configured without the tests and benchmarks, which
# need more than the demo (scripts/test.sh turns them on in the same folder).
if ! { [ -f "$build/CMakeCache.txt" ] ||
       cmake -S . -B "$build" -DTAXOSCOPE_TESTS=OFF -DTAXOSCOPE_BENCH=OFF; } >"$log" 2>&1 ||
   ! cmake --build "$build" -j2 --target taxoscope-cli taxoscope-sim >>"$log" 2>&1; then
  cat "$log" >&2
  echo "demo: the build failed" >&2
  exit 1
fi
cli=$root/$build/taxoscope-cli
sim=$root/$build/taxoscope-sim

work=$root/$build/demo
rm -rf "$work"
mkdir -p "$work"

# The simulator prints its terminal's path as its first line.
"$sim" serve --seed 7 --reports 12 --rate "$rate" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
port=
for _ in $(seq 100); do
  port=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    cat "$work/sim.err" >&2
    echo "demo: the simulator did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the simulator did not report its terminal" >&2
  exit 1
fi
echo "Simulated fiscal device on $port" >&2

status=0
dump=$(cd "$work" && "$cli" read --port "$port" --baud 115200) || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo: taxoscope-cli read ended with status $status" >&2
  exit "$status"
fi

echo
echo "Dump:   $dump"
echo "Report: $dump.txt"
echo "------------------------------------------------------------"
# The report prints department names as the device stores them; the bytes
# Windows-1251 leaves undefined are dropped here (-c).
iconv -c -f WINDOWS-1251 -t UTF-8 "$dump.txt" | tr -d '\r'
echo "------------------------------------------------------------"
echo "Monthly VAT table: taxoscope-cli summary $dump"
echo
"$cli" summary "$dump"
