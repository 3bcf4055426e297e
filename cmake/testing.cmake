# GoogleTest: the installed package natively; built from the Debian sources
# (/usr/src/googletest) for a cross build, whose tests then run under Wine.
if(CMAKE_CROSSCOMPILING)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest ALIAS gtest)
else()
  find_package(GTest REQUIRED)
endif()

add_library(taxoscope_test_main STATIC ${CMAKE_SOURCE_DIR}/testsupport/test_main.cpp
                                       ${CMAKE_SOURCE_DIR}/testsupport/temp_dir.cpp)
target_include_directories(taxoscope_test_main PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(taxoscope_test_main PUBLIC GTest::gtest)

# taxoscope_add_test(name source... LIBS lib... [SHARDS n]): one GoogleTest
# binary, one CTest entry; with SHARDS, n entries that each run a share of its
# tests (for binaries that spend their time waiting on line time-outs, so
# `ctest -j` overlaps the waits). Every test runs in the device's time zone and
# the "C" locale, whatever the machine's.
function(taxoscope_add_test name)
  cmake_parse_arguments(T "" "SHARDS" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} taxoscope_test_main)
  set(environment "TZ=Europe/Sofia;LC_ALL=C")
  if(NOT T_SHARDS)
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 300)
    return()
  endif()
  math(EXPR last "${T_SHARDS} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${name}_${shard} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${name}_${shard} PROPERTIES TIMEOUT 300 ENVIRONMENT
      "${environment};GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${shard}")
  endforeach()
endfunction()
