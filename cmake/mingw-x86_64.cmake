# Cross build for 64-bit Windows with MinGW-w64.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# Its tests need the 64-bit Wine loader (wine64); without it they are not run.
set(TAXOSCOPE_MINGW_TRIPLET x86_64-w64-mingw32)
set(TAXOSCOPE_MANIFEST_ARCH amd64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
