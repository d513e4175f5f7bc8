# Configures the release preset in a scratch folder and checks what it builds:
#   cmake -DSOURCE=<source dir> -DSCRATCH=<folder> -P check_release_preset.cmake
# Release, optimised, NDEBUG, with debug information kept apart from the
# stripped binaries, and no tests: what `cmake --workflow --preset release` ships.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND "${CMAKE_COMMAND}" --preset release -B "${SCRATCH}"
                WORKING_DIRECTORY "${SOURCE}" RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --preset release failed:\n${output}")
endif()
load_cache("${SCRATCH}" READ_WITH_PREFIX "" CMAKE_BUILD_TYPE CMAKE_CXX_FLAGS_RELEASE SKARVEL_SEPARATE_DEBUG_INFO
           SKARVEL_TESTS)
set(problems "")
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  string(APPEND problems "\n  CMAKE_BUILD_TYPE is \"${CMAKE_BUILD_TYPE}\", not Release")
endif()
separate_arguments(flags UNIX_COMMAND "${CMAKE_CXX_FLAGS_RELEASE}")
foreach(flag -O2 -g -DNDEBUG)
  if(NOT flag IN_LIST flags)
    string(APPEND problems "\n  CMAKE_CXX_FLAGS_RELEASE \"${CMAKE_CXX_FLAGS_RELEASE}\" lacks ${flag}")
  endif()
endforeach()
if(NOT SKARVEL_SEPARATE_DEBUG_INFO)
  string(APPEND problems "\n  SKARVEL_SEPARATE_DEBUG_INFO is off: the binaries would ship with their debug information")
endif()
if(SKARVEL_TESTS)
  string(APPEND problems "\n  SKARVEL_TESTS is on")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
if(problems)
  message(FATAL_ERROR "the release preset:${problems}")
endif()
message("release preset: Release, ${CMAKE_CXX_FLAGS_RELEASE}, debug information apart, no tests")
