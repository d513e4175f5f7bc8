# MinGW-w64 for 64-bit Windows from a toolchain file that does not set
# CMAKE_SYSTEM_PROCESSOR, as many hand-written ones do not: the compiler
# itself says what it builds for.
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/mingw-w64-x86_64.cmake)
unset(CMAKE_SYSTEM_PROCESSOR)
