# Cross build for 32-bit Windows with MinGW-w64: the shipped target.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Tests run under Wine (scripts/wine-run), each in the build tree's own prefix.
set(TAXOSCOPE_MINGW_TRIPLET i686-w64-mingw32)
set(TAXOSCOPE_MANIFEST_ARCH x86)
# Every double expression in IEEE double, as on x86_64 and Linux: the x87
# unit's 80-bit registers round the tax sums differently, a cent off now and
# then. On this target GCC realigns the stack where SSE needs it, since
# Windows calls back with only 4-byte alignment.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
