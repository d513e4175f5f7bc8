# Cross build for 64-bit Windows with clang, on MinGW-w64's headers, C and C++
# runtimes (Debian: apt-get install clang g++-mingw-w64-x86-64-posix): the
# second compiler that sees every Windows source, beside MinGW-w64 GCC.
#
# Debian's clang finds MinGW-w64's headers and libraries in the sysroot, but
# not GCC's C++ library: its folder is named "12-posix", which clang does not
# take for a GCC version. GCC itself says where it is. It links with LLVM's
# linker (Debian: lld): GNU ld warns of every type name that clang lays out
# in a section of another size than GCC's C++ library does (harmless, one
# copy is kept; lld keeps one without a word).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_SYSROOT /usr/x86_64-w64-mingw32)

execute_process(COMMAND x86_64-w64-mingw32-gcc-posix -print-libgcc-file-name
                OUTPUT_VARIABLE _skarvel_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _skarvel_found)
if(NOT _skarvel_found EQUAL 0 OR NOT EXISTS "${_skarvel_libgcc}")
  message(FATAL_ERROR "clang for MinGW-w64 needs GCC's C++ library: apt-get install g++-mingw-w64-x86-64-posix")
endif()
cmake_path(GET _skarvel_libgcc PARENT_PATH _skarvel_gcc)
set(_skarvel_cxx "${_skarvel_gcc}/include/c++")
# -pthread: the C++ runtime's threads and thread-local storage are
# winpthreads', which GCC links by itself.
string(JOIN " " CMAKE_CXX_FLAGS_INIT -isystem "${_skarvel_cxx}"
       -isystem "${_skarvel_cxx}/x86_64-w64-mingw32" -isystem "${_skarvel_cxx}/backward" -pthread)
set(CMAKE_C_FLAGS_INIT -pthread)
foreach(_skarvel_kind IN ITEMS EXE SHARED MODULE)
  set(CMAKE_${_skarvel_kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_skarvel_gcc} -pthread")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
