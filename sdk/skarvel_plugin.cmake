# Building and checking plug-ins of the Skarvel external DLL interface. Comes
# with find_package(SkarvelPluginSdk), and with add_subdirectory of the SDK's
# source tree.
#
#   skarvel_add_plugin(NAME SOURCE...)
#       The shared library target NAME: NAME.dll, a plug-in a host can load.
#       Its export table holds the interface's four entry points and nothing
#       else (a .def file made here; after every link a check that fails the
#       build, and removes the DLL, on any other export or a missing one). No
#       "lib" prefix; C++17; the warnings of the sample plug-in; the C and C++
#       runtimes linked in (MinGW-w64: -static; MSVC: /MT), so the DLL needs
#       only Windows' own system DLLs. Linked with Skarvel::plugin_interface,
#       Skarvel::message_model and Skarvel::background_worker. Its debug
#       information lies beside it, for the validator to name a fault's
#       function and line: NAME.dll.debug (MinGW-w64: DWARF 4, linked by the
#       DLL's .gnu_debuglink) or NAME.pdb (MSVC). Windows x64 only:
#       configuring it with any other toolchain is an error.
#
#   skarvel_add_validate_test(NAME)
#       A test, NAME.validate, that runs the SDK's validator (validate.exe) on
#       the plug-in NAME. On Linux it runs under Wine inside a private network
#       namespace on a virtual display (the SDK's scripts/sandboxed.sh), so a
#       plug-in that broadcasts reaches no network. Two cache variables,
#       whose defaults come from the environment variables of the same names
#       when they are set at the first configure:
#         SKARVEL_WINEPREFIX        the Wine prefix (default: wineprefix in the
#                                   build folder, made by the first run)
#         SKARVEL_VALIDATE_OPTIONS  validator options, a list (--quick,
#                                   --skip GROUP, --junit FILE...)
include_guard(GLOBAL)

function(skarvel_add_plugin name)
  set(sources ${ARGN})
  if(NOT sources)
    message(FATAL_ERROR " skarvel_add_plugin(${name}): no source files given")
  endif()
  # Which machine the toolchain builds for: MSVC names it; for MinGW-w64 the
  # toolchain's CMAKE_SYSTEM_PROCESSOR, or where a toolchain file leaves that
  # unset, the compiler's own target (-dumpmachine: x86_64-w64-mingw32).
  set(machine "${CMAKE_CXX_COMPILER_ARCHITECTURE_ID}")
  set(seen "CMAKE_CXX_COMPILER_ARCHITECTURE_ID and CMAKE_SYSTEM_PROCESSOR are not set")
  if(NOT machine)
    set(machine "${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  if(NOT machine AND CMAKE_CXX_COMPILER_TARGET)
    string(REGEX REPLACE "-.*" "" machine "${CMAKE_CXX_COMPILER_TARGET}")
  elseif(NOT machine AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -dumpmachine
                    OUTPUT_VARIABLE target ERROR_VARIABLE target OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(status EQUAL 0 AND target MATCHES "^([A-Za-z0-9_]+)-")
      set(machine "${CMAKE_MATCH_1}")
    else()
      string(APPEND seen ", and ${CMAKE_CXX_COMPILER} -dumpmachine answered \"${target}\"")
    endif()
  endif()
  if(NOT machine)
    set(machine "a machine it does not name (${seen})")
  endif()
  if(NOT WIN32)
    message(FATAL_ERROR " skarvel_add_plugin(${name}): a plug-in is a Windows x64 DLL, and this toolchain builds "
      "for ${CMAKE_SYSTEM_NAME}: configure with MinGW-w64 x86_64 (a toolchain file) or with MSVC x64")
  elseif(NOT CMAKE_SIZEOF_VOID_P EQUAL 8 OR NOT machine MATCHES "^(x64|X64|x86_64|AMD64|amd64)$")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(machine "32-bit ${machine}")
    endif()
    message(FATAL_ERROR " skarvel_add_plugin(${name}): a plug-in is a Windows x64 DLL, and this toolchain builds "
      "for ${machine}: use MinGW-w64 x86_64 or MSVC x64 (-A x64)")
  endif()

  # MSVC_RUNTIME_LIBRARY (/MT) takes effect only under policy CMP0091, which
  # cmake_minimum_required(VERSION 3.15) or later sets before project().
  if(MSVC AND "${CMAKE_CXX_FLAGS_RELEASE} ${CMAKE_CXX_FLAGS_DEBUG}" MATCHES "/M[DT]")
    message(FATAL_ERROR " skarvel_add_plugin(${name}): this project's runtime flags are set the old way (policy "
      "CMP0091): give cmake_minimum_required(VERSION 3.15) or later before project(), so the DLL gets /MT")
  endif()

  # The interface's entry points, by their undecorated names (x64 has one
  # calling convention). The check after each link reads them from here.
  set(def "${CMAKE_CURRENT_BINARY_DIR}/${name}_exports.def")
  file(CONFIGURE OUTPUT "${def}" CONTENT [[
; The plug-in's whole boundary to the host: these four names and no others.
EXPORTS
    Skarvel_External_DLL_GetInterfaceVersion
    Skarvel_External_DLL_Init
    Skarvel_External_DLL_Update
    Skarvel_External_DLL_Shutdown
]])
  add_library(${name} SHARED ${sources} "${def}")
  target_link_libraries(${name} PRIVATE Skarvel::plugin_interface Skarvel::message_model Skarvel::background_worker)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  if(MSVC)
    target_compile_options(${name} PRIVATE /W4 /permissive-)
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${name} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
  endif()
  if(MINGW)
    # The runtimes linked in, and none of their symbols among the exports.
    target_link_options(${name} PRIVATE -static -Wl,--exclude-all-symbols)
  endif()
  # Debug information beside the DLL, with which the validator names a
  # fault's function and line: MSVC's PDB; MinGW's DWARF 4 (Wine's dbghelp
  # reads no later one) moved into NAME.dll.debug, which the DLL links. Left
  # to a project that sets SKARVEL_PLUGIN_DEBUG_FILE to OFF (this one's
  # release package keeps its own).
  if(DEFINED SKARVEL_PLUGIN_DEBUG_FILE AND NOT SKARVEL_PLUGIN_DEBUG_FILE)
    # the project's own
  elseif(MSVC)
    target_compile_options(${name} PRIVATE $<$<NOT:$<CONFIG:Debug>>:/Z7>)
    target_link_options(${name} PRIVATE /DEBUG /OPT:REF /OPT:ICF)
  elseif(MINGW)
    target_compile_options(${name} PRIVATE -g -gdwarf-4)
  endif()
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DPLUGIN=$<TARGET_FILE:${name}>" "-DDEF=${def}"
            -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/check_plugin_exports.cmake"
    COMMENT "Checking the exports of ${name}"
    VERBATIM)
  if(MINGW AND CMAKE_OBJCOPY AND (NOT DEFINED SKARVEL_PLUGIN_DEBUG_FILE OR SKARVEL_PLUGIN_DEBUG_FILE))
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE:${name}>" "$<TARGET_FILE:${name}>.debug"
      COMMAND "${CMAKE_OBJCOPY}" --strip-debug "--add-gnu-debuglink=$<TARGET_FILE:${name}>.debug"
              "$<TARGET_FILE:${name}>"
      COMMENT "Moving the debug information of ${name} into $<TARGET_FILE_NAME:${name}>.debug"
      VERBATIM)
  endif()
endfunction()

function(skarvel_add_validate_test name)
  if(NOT TARGET Skarvel::validate)
    message(FATAL_ERROR " skarvel_add_validate_test(${name}): this SDK has no validator: validate.exe comes with "
      "the SDK of a Windows build (the release package, or cmake --install of a MinGW-w64 or MSVC build)")
  endif()
  set(SKARVEL_VALIDATE_OPTIONS "$ENV{SKARVEL_VALIDATE_OPTIONS}" CACHE STRING
    "Options of the validator in the tests of skarvel_add_validate_test (--quick, --skip GROUP, --junit FILE...)")
  if(CMAKE_HOST_WIN32)
    add_test(NAME ${name}.validate
             COMMAND $<TARGET_FILE:Skarvel::validate> ${SKARVEL_VALIDATE_OPTIONS} $<TARGET_FILE:${name}>)
  else()
    set(prefix "$ENV{SKARVEL_WINEPREFIX}")
    if(NOT prefix)
      set(prefix "${CMAKE_BINARY_DIR}/wineprefix")
    endif()
    set(SKARVEL_WINEPREFIX "${prefix}" CACHE PATH
      "The Wine prefix of the validator's tests (made by the first run, about 700 MB)")
    get_property(sandboxed GLOBAL PROPERTY SKARVEL_SANDBOXED)
    add_test(NAME ${name}.validate
             COMMAND bash "${sandboxed}" --wine-prefix "${SKARVEL_WINEPREFIX}" --
                     wine $<TARGET_FILE:Skarvel::validate> ${SKARVEL_VALIDATE_OPTIONS} $<TARGET_FILE:${name}>)
  endif()
  set_tests_properties(${name}.validate PROPERTIES TIMEOUT 600)
endfunction()
