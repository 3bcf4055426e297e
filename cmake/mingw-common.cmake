# Shared part of the MinGW-w64 toolchain files; TAXOSCOPE_MINGW_TRIPLET and
# TAXOSCOPE_MANIFEST_ARCH are set by the including file.
set(CMAKE_SYSTEM_NAME Windows)
if(TAXOSCOPE_MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

# The POSIX-threads flavour: GoogleTest needs std::mutex, which GCC 12's
# win32-threads flavour lacks. Linked statically, it adds no DLL.
find_program(TAXOSCOPE_MINGW_CC NAMES ${TAXOSCOPE_MINGW_TRIPLET}-gcc-posix ${TAXOSCOPE_MINGW_TRIPLET}-gcc)
find_program(TAXOSCOPE_MINGW_CXX NAMES ${TAXOSCOPE_MINGW_TRIPLET}-g++-posix ${TAXOSCOPE_MINGW_TRIPLET}-g++)
set(CMAKE_C_COMPILER ${TAXOSCOPE_MINGW_CC})
set(CMAKE_CXX_COMPILER ${TAXOSCOPE_MINGW_CXX})
set(CMAKE_RC_COMPILER ${TAXOSCOPE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAXOSCOPE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The manifest names the processor architecture it binds common controls for.
set(TAXOSCOPE_MANIFEST_ARCH ${TAXOSCOPE_MANIFEST_ARCH} CACHE STRING
    "processorArchitecture of the common-controls dependency in the manifest")

# CTest runs the .exe files under Wine, in a prefix of this build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run;--prefix;${CMAKE_BINARY_DIR}/wineprefix)

# The SQLite amalgamation the Windows programs compile in (cmake/sqlite.cmake).
set(TAXOSCOPE_SQLITE_AMALGAMATION ${CMAKE_CURRENT_LIST_DIR}/../third_party/sqlite CACHE PATH
    "Folder with the SQLite amalgamation (sqlite3.c, sqlite3.h); scripts/fetch-sqlite.sh fills it")
