#!/usr/bin/env bash
# Builds everything and runs every test: the native build (Linux), the same
# tests under the sanitizers, the server's tests under ThreadSanitizer, a
# short run of each fuzz target, then the Windows build under Wine when
# scripts/test-windows.sh is present.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all

# The tests and benchmarks on, also in a build folder the demo configured.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAXOSCOPE_TESTS=ON -DTAXOSCOPE_BENCH=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j4

# The native tests once more under AddressSanitizer and UndefinedBehaviorSanitizer
# (leaks included); any finding fails its test. -O1 keeps the build quick.
# Built with clang, benchmarks included: the whole tree then builds with both
# GCC (above) and clang, at the cost of no extra build.
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' build-asan/CMakeCache.txt; then
  rm -rf build-asan  # configured with another compiler before
fi
cmake -S . -B build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DTAXOSCOPE_BENCH=ON \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j4

# The server's tests once more under ThreadSanitizer, with the core's
# tests of the state the server's threads share (the calendar's month cache):
# the server's readers and its one writer share the ledger's caches and the
# core's state. Only these tests and what they run are built. Every process the tests
# start (the server, taxoscope-cli) writes its reports beside the build;
# any report fails the run.
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" -DTAXOSCOPE_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="$tsan" >/dev/null
cmake --build build-tsan -j2 --target server_tests server_edges_tests fm_tests
rm -rf build-tsan/tsan-reports
mkdir build-tsan/tsan-reports
TSAN_OPTIONS="log_path=$PWD/build-tsan/tsan-reports/report second_deadlock_stack=1 suppressions=$PWD/scripts/tsan-suppressions.txt" \
  ctest --test-dir build-tsan -R '^(fm_tests|server_tests|server_edges_tests)$' --output-on-failure
if compgen -G "build-tsan/tsan-reports/report*" >/dev/null; then
  cat build-tsan/tsan-reports/report* >&2
  echo "test: ThreadSanitizer reported the races above" >&2
  exit 1
fi

# Every fuzz target for about half a minute from the generated seeds.
scripts/fuzz.sh 30

if [ -x scripts/test-windows.sh ]; then
  scripts/test-windows.sh
fi
