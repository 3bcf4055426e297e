#!/usr/bin/env bash
# Builds the Windows programs and runs their tests under Wine: the 32-bit
# build (the shipped one), then the 64-bit build under 64-bit Wine, each with
# every test, including taxoscope.exe end to end and taxoscope-cli.exe beside
# the native one. Needs the native build in build/ (scripts/test.sh makes it
# first) for taxoscope-sim and taxoscope-cli. One Xvfb serves the whole run,
# one Wine server each build's prefix.
#   scripts/test-windows.sh [NATIVE-BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=$(realpath "${1:-build}")
win32=$root/build-win32
win64=$root/build-win64

for tool in taxoscope-sim taxoscope-cli taxoscope-server; do
  if [ ! -x "$native/$tool" ]; then
    cmake -S . -B "$native" >/dev/null
    cmake --build "$native" -j2 --target "$tool"
  fi
done

cmake -S . -B "$win32" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTAXOSCOPE_BENCH=OFF \
  -DTAXOSCOPE_NATIVE_SIM="$native/taxoscope-sim" -DTAXOSCOPE_NATIVE_CLI="$native/taxoscope-cli" \
  -DTAXOSCOPE_NATIVE_SERVER="$native/taxoscope-server" >/dev/null
cmake --build "$win32" -j2

cmake -S . -B "$win64" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DTAXOSCOPE_TESTS=ON \
  -DTAXOSCOPE_BENCH=OFF \
  -DTAXOSCOPE_NATIVE_SIM="$native/taxoscope-sim" -DTAXOSCOPE_NATIVE_CLI="$native/taxoscope-cli" \
  -DTAXOSCOPE_NATIVE_SERVER="$native/taxoscope-server" >/dev/null
cmake --build "$win64" -j2

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A display of our own for the dialogs; Xvfb names a free one.
exec 5< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb_pid <&5
read -r display <&5 || true
if [ -z "${display:-}" ]; then
  echo "test-windows: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=:$display

# run_tests BUILD-DIR WINEARCH: the build's tests in its own Wine prefix.
run_tests() {
  local build=$1
  export WINEPREFIX=$build/wineprefix
  echo "test-windows: $(basename "$build") under Wine ($2)" >&2
  # The prefix is made once (wine-run does it on first use); then one server
  # for every test. The first program with windows after that waits seconds
  # for Wine's desktop to come up, and two such first programs at once can
  # hang: one small one goes first (it prints its usage and exits).
  WINEARCH=$2 scripts/wine-run --prefix "$WINEPREFIX" cmd /c exit 0 >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || true
  scripts/wine-run --prefix "$WINEPREFIX" "$build/drive_taxoscope.exe" >/dev/null 2>&1 || true

  # Now and then Wine does not end a test process that has finished (every
  # test reported, exit never comes); such a run is cut at the time-out and
  # run once more. A test that fails fails both times.
  local status=0
  ctest --test-dir "$build" --output-on-failure -j2 --timeout 180 --repeat until-pass:2 || status=$?
  wineserver -k >/dev/null 2>&1 || true
  return $status
}

# Both builds are tested even when the first fails. A kernel without IA-32
# emulation runs no 32-bit program, 32-bit Wine included: there the 32-bit
# build is built but only the 64-bit one, the same sources, is tested.
status=0
if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  echo "test-windows: 32-bit Wine (wine32:i386) is not installed:" \
       "build-win32 is built, its tests are not run" >&2
elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
  run_tests "$win32" win32 || status=1
else
  echo "test-windows: this machine's kernel runs no 32-bit programs (no IA-32 emulation):" \
       "build-win32 is built, its tests are not run" >&2
fi
run_tests "$win64" win64 || status=1
if [ -f "$win32/taxoscope-main-dialog.png" ]; then
  echo "test-windows: screenshot of the main dialog: $win32/taxoscope-main-dialog.png"
fi
exit $status
