#!/usr/bin/env bash
# Installs, with apt-get, what this machine lacks for one of two purposes:
#
#   scripts/install-deps.sh native   the native build of taxoscope-cli and
#                                    taxoscope-sim (scripts/demo.sh): g++,
#                                    CMake, make, pkg-config, nlohmann-json,
#                                    SQLite, cpp-httplib (with OpenSSL), Boost,
#                                    libcurl (with OpenSSL)
#   scripts/install-deps.sh all      (the default) everything the tests and the
#                                    packages need (scripts/test.sh, .ci/run):
#                                    the above, GoogleTest, Google Benchmark,
#                                    the sqlite3 program,
#                                    the MinGW-w64 cross compilers, 32- and
#                                    64-bit Wine, Xvfb, socat, ser2net, ImageMagick,
#                                    Chromium, OpenSSL's tool (test
#                                    certificates), clang with libFuzzer, npm and the
#                                    SQLite amalgamation of the Windows builds
#                                    (scripts/fetch-sqlite.sh), dpkg-dev, file,
#                                    help2man, lintian, sudo and curl
#
# Every need is checked, none assumed, so that a plain Debian 12 or Ubuntu
# 24.04 machine will do. As root it installs what is missing; otherwise it
# names the packages and the command that installs them, and exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."

purpose=${1:-all}
case $purpose in
  native | all) ;;
  *) echo "usage: scripts/install-deps.sh [native|all]" >&2; exit 2 ;;
esac

need=()
have_header() { [ -f "/usr/include/$1" ]; }

# The native build.
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
have_header nlohmann/json.hpp || need+=(nlohmann-json3-dev)
have_header sqlite3.h || need+=(libsqlite3-dev)
# HTTP and TLS of taxoscope-server and taxoscope-cli send: the compiled
# cpp-httplib, which brings OpenSSL's headers with it.
command -v pkg-config >/dev/null || need+=(pkg-config)
{ have_header httplib.h && have_header openssl/ssl.h; } || need+=(libcpp-httplib-dev libssl-dev)
# taxoscope-server's HTTP: Boost.Beast and Asio, header-only.
have_header boost/beast.hpp || need+=(libboost-dev)
# taxoscope-cli send's client: libcurl over OpenSSL (its header is in a
# multiarch folder, so pkg-config tells).
pkg-config --exists libcurl 2>/dev/null || need+=(libcurl4-openssl-dev)
command -v iconv >/dev/null || need+=(libc-bin)

if [ "$purpose" = all ]; then
  # The native tests and benchmarks; the Windows builds compile GoogleTest
  # from the sources the same package ships.
  { have_header gtest/gtest.h && [ -d /usr/src/googletest ]; } || need+=(libgtest-dev)
  have_header benchmark/benchmark.h || need+=(libbenchmark-dev)
  command -v python3 >/dev/null || need+=(python3)
  # The ledger's VAT views are tested as a user reads them.
  command -v sqlite3 >/dev/null || need+=(sqlite3)
  command -v i686-w64-mingw32-g++ >/dev/null || need+=(mingw-w64)
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine wine32:i386)
  # Wine's Tahoma: dialogs get the metrics they have on Windows.
  [ -f /usr/share/wine/fonts/tahoma.ttf ] || need+=(fonts-wine)
  # The 64-bit Windows build's tests.
  [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
  command -v Xvfb >/dev/null || need+=(xvfb xauth)
  command -v socat >/dev/null || need+=(socat)
  # A real serial device server in front of the simulator, for the network
  # line's tests and benchmark.
  [ -x /usr/sbin/ser2net ] || need+=(ser2net)
  { command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick; } || need+=(imagemagick)
  command -v chromium >/dev/null || need+=(chromium)
  command -v openssl >/dev/null || need+=(openssl)
  # promtool checks and tests the alerting rules the package ships.
  command -v promtool >/dev/null || need+=(prometheus)
  # clang with libFuzzer and the sanitizer runtimes, for scripts/fuzz.sh and
  # the sanitizer build of scripts/test.sh.
  command -v clang++ >/dev/null || need+=(clang)
  [ -f "$(clang -print-resource-dir 2>/dev/null)/lib/linux/libclang_rt.fuzzer-$(uname -m).a" ] ||
    need+=(libclang-rt-dev)
  # npm fetches the SQLite amalgamation that the Windows builds compile in.
  command -v npm >/dev/null || need+=(npm)
  # Packages: dependencies of the .deb (dpkg-shlibdeps, which CPack runs on
  # what file calls ELF), man pages from --help, and the .deb's check.
  command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
  command -v file >/dev/null || need+=(file)
  command -v help2man >/dev/null || need+=(help2man)
  command -v lintian >/dev/null || need+=(lintian)
  # The package check installs the .deb with apt and runs the docs' first
  # commands as written (sudo -u taxoscope ...), and asks the service with curl.
  command -v sudo >/dev/null || need+=(sudo)
  command -v curl >/dev/null || need+=(curl)
fi

if [ ${#need[@]} -gt 0 ]; then
  i386=
  printf '%s\n' "${need[@]}" | grep -q ':i386' && i386=yes
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: this machine lacks: ${need[*]}" >&2
    echo "install them as root with:" >&2
    [ -n "$i386" ] && echo "  dpkg --add-architecture i386" >&2
    echo "  apt-get update && apt-get install --no-install-recommends ${need[*]}" >&2
    exit 1
  fi
  echo "install-deps: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  [ -n "$i386" ] && dpkg --add-architecture i386
  # A mirror in the middle of a sync fails an index now and then: the update
  # is tried again, and an index it could not renew does not stop the
  # install, which fails by itself if a package is truly out of reach.
  for try in 1 2 3; do
    apt-get update -qq && break
    echo "install-deps: apt-get update failed (try $try of 3)" >&2
    sleep $((try * 10))
  done
  if ! apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null; then
    [ -n "$i386" ] || exit 1
    # 32-bit Wine needs the i386 index to match the amd64 one; while a mirror
    # is out of step it cannot be installed. Everything else is, and the
    # 32-bit Windows tests are then left out (scripts/test-windows.sh says so).
    echo "install-deps: 32-bit Wine cannot be installed now; installing the rest without it" >&2
    rest=()
    for package in "${need[@]}"; do
      [ "$package" = wine32:i386 ] || rest+=("$package")
    done
    apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
  fi
  # The prometheus package starts its own server where systemd runs; only its
  # promtool is wanted here.
  if printf '%s\n' "${need[@]}" | grep -qx prometheus && [ -d /run/systemd/system ]; then
    systemctl disable --now prometheus >/dev/null 2>&1 || true
  fi
fi

if [ "$purpose" = all ]; then
  scripts/fetch-sqlite.sh
fi
