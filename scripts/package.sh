#!/usr/bin/env bash
# Builds the release packages with CMake's install rules and CPack and leaves
# them in dist/:
#   taxoscope-VERSION-win32.zip, taxoscope-VERSION-win64.zip   (Windows)
#   taxoscope_VERSION_amd64.deb, taxoscope-VERSION-linux-x86_64.tar.gz
# Each comes from a Release build of its own under build-package/, tests and
# benchmarks off. Two runs on the same commit give the same bytes: every time
# stamp is the last commit's (SOURCE_DATE_EPOCH), and no build path or link
# time gets into the programs. scripts/check-packages.sh checks the result.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Folders CPack makes, and the members of the .deb, take their modes from it.
umask 022
out=$root/build-package

scripts/install-deps.sh

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null); then
    echo "package: not a git checkout; set SOURCE_DATE_EPOCH to the release's time" >&2
    exit 1
  fi
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "package: warning: uncommitted changes are packaged with the last commit's date" >&2
fi

# package NAME GENERATOR-OPTIONS...: configure, build, and run cpack in
# build-package/NAME; the packages land in build-package/NAME/packages.
package() {
  local name=$1
  shift
  local dir=$out/$name
  echo "package: $name" >&2
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTAXOSCOPE_TESTS=OFF \
    -DTAXOSCOPE_BENCH=OFF "$@" >/dev/null
  nice cmake --build "$dir" -j2 >/dev/null
  rm -rf "$dir/packages"
  (cd "$dir" && cpack -B "$dir/packages" >/dev/null)
}

# The Linux programs with Debian's hardening flags, as a Debian build has them.
(
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export CFLAGS CXXFLAGS LDFLAGS
  package linux -DTAXOSCOPE_MAN_PAGES=ON
)
package win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
package win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake

rm -rf dist
mkdir dist
for name in linux win32 win64; do
  find "$out/$name/packages" -maxdepth 1 -type f \
    \( -name '*.deb' -o -name '*.tar.gz' -o -name '*.zip' \) -exec cp {} dist/ \;
done
(cd dist && ls -l && sha256sum -- *)
