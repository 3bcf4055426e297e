# Cross build for 32-bit Windows with MinGW-w64: the shipped target.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Tests run under Wine (scripts/wine-run), each in the build tree's own prefix.
set(TAXOSCOPE_MINGW_TRIPLET i686-w64-mingw32)
set(TAXOSCOPE_MANIFEST_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
