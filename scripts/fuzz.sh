#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz, writes their seed
# corpora and runs each target for SECONDS (default 30). Fails on the first
# crash, leak, time-out or out-of-memory; the input behind it is kept in
# build-fuzz/artifacts/ and the target's output in build-fuzz/<target>.log.
# What a run finds beyond the seeds stays in build-fuzz/corpus/ for the next.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi

scripts/install-deps.sh

targets=(dump_fuzz link_fuzz bounds_fuzz settings_fuzz)
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAXOSCOPE_FUZZ=ON -DTAXOSCOPE_TESTS=OFF -DTAXOSCOPE_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]}" fuzz_seeds

rm -rf build-fuzz/seeds
build-fuzz/fuzz_seeds build-fuzz/seeds
mkdir -p build-fuzz/artifacts

for target in "${targets[@]}"; do
  name=${target%_fuzz}
  log=build-fuzz/$target.log
  mkdir -p "build-fuzz/corpus/$name"
  # New inputs go to the first folder; the seeds are only read.
  if ! "build-fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
      -entropic_scale_per_exec_time=1 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$name-" \
      "build-fuzz/corpus/$name" "build-fuzz/seeds/$name" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz.sh: $target failed: see $log and build-fuzz/artifacts/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
  echo "$target: $runs runs, $speed exec/s, $coverage"
done
