# MinGW-w64 for 32-bit Windows (-m32): no 32-bit runtime libraries here, so
# CMake's checks compile without linking, which is all configuring needs.
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/mingw-w64-x86_64.cmake)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
