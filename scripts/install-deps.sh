#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks for the whole build and test run:
# the MinGW-w64 cross compilers, 32- and 64-bit Wine, Xvfb, socat,
# ImageMagick, the nlohmann-json headers, Chromium (the HTML export's
# screenshot test) and clang with libFuzzer (scripts/fuzz.sh); and for the
# packages (scripts/package.sh) dpkg-dev, file, help2man and lintian.
# g++, cmake, GoogleTest and Google Benchmark are expected to be there already.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++ >/dev/null || need+=(mingw-w64)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine wine32:i386)
# Wine's Tahoma: dialogs get the metrics they have on Windows.
[ -f /usr/share/wine/fonts/tahoma.ttf ] || need+=(fonts-wine)
command -v Xvfb >/dev/null || need+=(xvfb xauth)
command -v socat >/dev/null || need+=(socat)
command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick || need+=(imagemagick)
command -v iconv >/dev/null || need+=(libc-bin)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
command -v chromium >/dev/null || need+=(chromium)
command -v python3 >/dev/null || need+=(python3)
# clang with libFuzzer and the sanitizer runtimes, for scripts/fuzz.sh.
command -v clang++ >/dev/null || need+=(clang)
[ -f "$(clang -print-resource-dir 2>/dev/null)/lib/linux/libclang_rt.fuzzer-$(uname -m).a" ] ||
  need+=(libclang-rt-dev)
# The 64-bit Windows build's tests.
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
# Packages: dependencies of the .deb (dpkg-shlibdeps, which CPack runs on what
# file calls ELF), man pages from --help, and the .deb's check.
command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
command -v file >/dev/null || need+=(file)
command -v help2man >/dev/null || need+=(help2man)
command -v lintian >/dev/null || need+=(lintian)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing ${need[*]}; run as root to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${need[@]}" | grep -q ':i386'; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
