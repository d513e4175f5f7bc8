# The tests' build: GoogleTest, one precompiled GoogleTest header shared by
# every test program, and skarvel_add_test.
#
# Test properties that say what a test shares with others, so that ctest -j
# runs side by side only tests that cannot disturb each other:
#   RESOURCE_LOCK port_50001   sends to or receives on UDP port 50001. Every run of
#                              this project's plug-in does: it broadcasts there. It
#                              also shows the plug-in's window, whose class is one per
#                              desktop and whose making the lifecycle tests watch on
#                              the whole desktop: the lock covers that too.
#   LABELS clocked             holds something to a time: run by itself (test preset
#                              windows-clocked, after the test command's other stages),
#                              beside one other clocked test at most, neither loading
#                              the processors;
#   RUN_SERIAL                 a clocked test that loads every processor itself: alone.
# and, in the Windows build, what a test needs under Wine:
#   LABELS wine                    runs Windows programs that make windows: needs the
#                                  fixture wine_desktop (skarvel_wine_tests below).
# Every Windows program runs through tests/support/private_network_wine.sh, which
# refuses to run it outside the sandbox of scripts/sandboxed.sh.
if(SKARVEL_TESTS OR SKARVEL_FUZZ)
  enable_testing()
endif()
if(NOT SKARVEL_TESTS)
  return()
endif()

# GoogleTest for both builds: Debian's packaged library natively, its source
# tree when cross-building for Windows (the packaged library is Linux-only).
if(CMAKE_CROSSCOMPILING)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # At -O1: gtest-all.cc is the longest compile of the Windows build (9.5 s at -O2, 7.4 s
  # at -O1, 5.7 s at -O0), but unoptimised it leaves every test program's link with GNU ld
  # four times as long (a test program 1.6 s instead of 0.4 s; the Windows build 135 ->
  # 114 s of processor time at -O1). How fast GoogleTest itself runs shows in no test.
  target_compile_options(gtest PRIVATE -O1)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/support/private_network_wine.sh)
endif()

# <gtest/gtest.h> is most of every test source's compile time: it is
# compiled once per build and reused by every test program.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/skarvel_gtest_pch.cpp CONTENT "// GoogleTest, precompiled\n")
add_library(skarvel_gtest_pch STATIC ${CMAKE_BINARY_DIR}/skarvel_gtest_pch.cpp)
target_link_libraries(skarvel_gtest_pch PRIVATE GTest::gtest)
target_precompile_headers(skarvel_gtest_pch PRIVATE <gtest/gtest.h>)
# The test programs' own sources are not optimised, the code they test keeps
# its -O2: about 40 % less of their compile time than at -O2 (a sixth less
# than at -O1), and how fast a test's own code runs shows in no test. The
# precompiled header must be made with the same level.
set(skarvel_test_code_options $<$<CONFIG:Release>:-O0>)
target_compile_options(skarvel_gtest_pch PRIVATE ${skarvel_test_code_options})

# skarvel_add_test(name SOURCES... LIBS... [WORKING_DIRECTORY dir]
#                  [PROPERTIES name value...]): one test program whose cases
# CTest runs one by one, each in a process of its own, with PROPERTIES (e.g.
# RESOURCE_LOCK, above) set on every case. Those labelled wine need the Wine
# desktop held.
function(skarvel_add_test name)
  cmake_parse_arguments(T "" "WORKING_DIRECTORY" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tm_source_root GTest::gtest_main)
  target_precompile_headers(${name} REUSE_FROM skarvel_gtest_pch)
  target_compile_options(${name} PRIVATE ${skarvel_test_code_options})
  if(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Without base relocations: a program is loaded at the address it was
    # linked for, and GNU ld's making them is a quarter of a test program's
    # link (25 -> 19 s of processor time for the Windows build's 20; lld,
    # which the clang build links with, has no such option).
    target_link_options(${name} PRIVATE -Wl,--disable-reloc-section)
  endif()
  set(where "")
  if(T_WORKING_DIRECTORY)
    set(where WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  endif()
  set(desktop "")
  if(CMAKE_CROSSCOMPILING AND "wine" IN_LIST T_PROPERTIES)
    set(desktop FIXTURES_REQUIRED wine_desktop)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${where}
                       PROPERTIES TIMEOUT 120 ${T_PROPERTIES} ${desktop})
endfunction()

# skarvel_wine_tests(): at the end of a test folder, every test of it labelled
# wine needs the fixture wine_desktop besides any it has.
function(skarvel_wine_tests)
  if(NOT CMAKE_CROSSCOMPILING)
    return()
  endif()
  get_directory_property(tests TESTS)
  foreach(test IN LISTS tests)
    get_test_property(${test} LABELS labels)
    if("wine" IN_LIST labels)
      get_test_property(${test} FIXTURES_REQUIRED fixtures)
      if(NOT fixtures)
        set(fixtures "")
      endif()
      list(APPEND fixtures wine_desktop)
      set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "${fixtures}")
    endif()
  endforeach()
endfunction()
