#!/usr/bin/env bash
# Builds everything and runs every test: the native build (Linux), then the
# Windows build under Wine when scripts/test-windows.sh is present.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

if [ -x scripts/test-windows.sh ]; then
  scripts/test-windows.sh
fi
