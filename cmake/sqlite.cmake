# SQLite::SQLite3 on every build. Natively the system's library (Debian
# libsqlite3-dev; the .deb then depends on libsqlite3-0). Debian has no
# SQLite for MinGW, so the Windows builds compile the amalgamation that
# scripts/fetch-sqlite.sh leaves in TAXOSCOPE_SQLITE_AMALGAMATION (set by the
# MinGW toolchain files) into the programs, which stay self-contained.
#
# The lowest SQLite the ledger supports: 3.31.0, the oldest in a supported
# distribution (Ubuntu 20.04). The ledger uses nothing newer (WITHOUT ROWID
# tables came with 3.8.2; the schema is read from sqlite_master, which every
# version has, not from its newer alias sqlite_schema).
set(TAXOSCOPE_SQLITE_MINIMUM 3.31.0)
function(taxoscope_require_sqlite version where)
  if(version VERSION_LESS TAXOSCOPE_SQLITE_MINIMUM)
    message(FATAL_ERROR "SQLite ${version} (${where}) is older than ${TAXOSCOPE_SQLITE_MINIMUM}, "
                        "the lowest the ledger supports")
  endif()
endfunction()

if(NOT CMAKE_CROSSCOMPILING)
  find_package(SQLite3 REQUIRED)
  taxoscope_require_sqlite("${SQLite3_VERSION}" "${SQLite3_INCLUDE_DIRS}")
  return()
endif()

if(NOT EXISTS ${TAXOSCOPE_SQLITE_AMALGAMATION}/sqlite3.c OR NOT EXISTS ${TAXOSCOPE_SQLITE_AMALGAMATION}/sqlite3.h)
  message(FATAL_ERROR "The SQLite amalgamation is not in '${TAXOSCOPE_SQLITE_AMALGAMATION}': "
                      "run scripts/fetch-sqlite.sh (scripts/install-deps.sh runs it)")
endif()
# Its version, for the licence note of the Windows packages.
file(STRINGS ${TAXOSCOPE_SQLITE_AMALGAMATION}/sqlite3.h version_line REGEX "^#define SQLITE_VERSION +\"")
string(REGEX REPLACE "^.*\"(.*)\".*$" "\\1" TAXOSCOPE_SQLITE_VERSION "${version_line}")
taxoscope_require_sqlite("${TAXOSCOPE_SQLITE_VERSION}" "${TAXOSCOPE_SQLITE_AMALGAMATION}")
add_library(taxoscope_sqlite3 STATIC ${TAXOSCOPE_SQLITE_AMALGAMATION}/sqlite3.c)
target_include_directories(taxoscope_sqlite3 SYSTEM PUBLIC ${TAXOSCOPE_SQLITE_AMALGAMATION})
# One thread uses a connection at a time; no extension loading; double-quoted
# strings are errors, as in SQLite's recommended build. Optimised in every
# build type: it is the bulk of the programs' code. Its warnings are not ours.
target_compile_definitions(taxoscope_sqlite3 PRIVATE
  SQLITE_THREADSAFE=0 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0 SQLITE_DEFAULT_MEMSTATUS=0)
target_compile_options(taxoscope_sqlite3 PRIVATE -O2 -w)
add_library(SQLite::SQLite3 ALIAS taxoscope_sqlite3)
