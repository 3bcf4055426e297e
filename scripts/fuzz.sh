#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz, writes their seed
# corpora and runs each target for SECONDS (default 30), as many at once as
# there are processors. Fails on any crash, leak, time-out or out-of-memory;
# the input behind it is kept in build-fuzz/artifacts/ and the target's output
# in build-fuzz/<target>.log.
# What a run finds beyond the seeds stays in build-fuzz/corpus/ for the next.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi

scripts/install-deps.sh

targets=(dump_fuzz link_fuzz bounds_fuzz settings_fuzz telnet_fuzz rfc2217_fuzz)
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAXOSCOPE_FUZZ=ON -DTAXOSCOPE_TESTS=OFF -DTAXOSCOPE_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]}" fuzz_seeds

rm -rf build-fuzz/seeds
build-fuzz/fuzz_seeds build-fuzz/seeds
mkdir -p build-fuzz/artifacts

# run_target TARGET: one fuzz run; its summary line, or its failure, on stderr.
run_target() {
  local target=$1 name=${1%_fuzz}
  local log=build-fuzz/$target.log
  mkdir -p "build-fuzz/corpus/$name"
  # New inputs go to the first folder; the seeds are only read.
  if ! "build-fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
      -entropic_scale_per_exec_time=1 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$name-" \
      "build-fuzz/corpus/$name" "build-fuzz/seeds/$name" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz.sh: $target failed: see $log and build-fuzz/artifacts/" >&2
    return 1
  fi
  local runs speed coverage
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
  echo "$target: $runs runs, $speed exec/s, $coverage"
}

# One target per processor at a time: each still gets its whole time.
parallel=$(nproc 2>/dev/null || echo 1)
failed=0
pids=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$parallel" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed
