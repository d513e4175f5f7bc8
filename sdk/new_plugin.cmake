# Makes a new plug-in project from the SDK's template:
#     cmake -P <SDK>/share/skarvel/new_plugin.cmake NAME FOLDER
#
# NAME names the plug-in: its DLL (NAME.dll), its CMake project and target, its
# source files. It is a letter followed by letters, digits and underscores, 64
# characters at most, and no name Windows or CMake keeps for itself (con, nul,
# test, install, CMAKE..., and the names of Windows' own DLLs, such as kernel32
# or ws2_32, which Windows and Wine would load in its place). FOLDER is made,
# or must be an empty folder outside the SDK: nothing that exists is ever
# written over. The project finds this SDK through its CMakeUserPresets.json
# (this machine's, which git ignores); its README.md says what to do next.
#
# The project is written to a temporary folder beside FOLDER and put in its
# place in one step.
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/sdk_layout.cmake" OPTIONAL RESULT_VARIABLE layout)
get_filename_component(sdk "${CMAKE_CURRENT_LIST_DIR}/${SKARVEL_SDK_ROOT_FROM_HERE}" ABSOLUTE)
set(template "${CMAKE_CURRENT_LIST_DIR}/template")
# Errors are one sentence on one line (a leading space keeps CMake from
# breaking it).

# The two arguments after the script's own name, read one by one (not as a
# list, which would split one at a ";").
math(EXPR last "${CMAKE_ARGC} - 1")
set(first "")
foreach(i RANGE ${last})
  if(CMAKE_ARGV${i} STREQUAL "-P")
    math(EXPR first "${i} + 2")
    break()
  endif()
endforeach()
math(EXPR count "${CMAKE_ARGC} - ${first}")
if(NOT count EQUAL 2)
  message(FATAL_ERROR " new_plugin: give a name and a folder: cmake -P ${CMAKE_CURRENT_LIST_FILE} NAME FOLDER")
endif()
math(EXPR second "${first} + 1")
set(name "${CMAKE_ARGV${first}}")
set(folder "${CMAKE_ARGV${second}}")

if(NOT layout OR NOT EXISTS "${sdk}/${SKARVEL_SDK_PACKAGE_DIR}/SkarvelPluginSdkConfig.cmake")
  message(FATAL_ERROR " new_plugin: run the new_plugin.cmake of an installed SDK (the release package, "
                      "or cmake --install of a build): there is no SDK at ${sdk}")
endif()

string(LENGTH "${name}" length)
string(TOLOWER "${name}" lower)
# Windows' device names, CMake's own targets, and the DLLs of Windows (and of
# Wine, which has its own of each) and of the C and C++ runtimes: a plug-in
# of such a name is not the DLL that a host or the validator loads.
set(reserved con prn aux nul com1 com2 com3 com4 com5 com6 com7 com8 com9 lpt1 lpt2 lpt3 lpt4 lpt5 lpt6 lpt7 lpt8
    lpt9 conin conout clock all clean help install test package package_source edit_cache rebuild_cache
    list_install_components zero_check all_build run_tests)
set(system_dlls advapi32 bcrypt cfgmgr32 combase comctl32 comdlg32 crypt32 d2d1 d3d10 d3d11 d3d12 d3d9
    d3dcompiler_47 dbghelp dinput dinput8 dnsapi dsound dwmapi dwrite dxgi gdi32 gdiplus hid imagehlp imm32
    iphlpapi kernel32 kernelbase mscoree msimg32 msvcrt mswsock ncrypt netapi32 normaliz ntdll ole32 oleaut32
    opengl32 powrprof psapi rpcrt4 sechost secur32 setupapi shcore shell32 shlwapi ucrtbase urlmon user32
    userenv uxtheme version windowscodecs winhttp wininet winmm winspool wintrust wldap32 ws2_32 wsock32
    wtsapi32 xaudio2_9 xinput1_3 xinput1_4 xinput9_1_0)
if(NOT name MATCHES "^[A-Za-z][A-Za-z0-9_]*$" OR length GREATER 64)
  message(FATAL_ERROR " new_plugin: \"${name}\" is not a plug-in name: a letter, then letters, digits and "
                      "underscores, at most 64 characters")
elseif(lower IN_LIST reserved OR lower MATCHES "^cmake")
  message(FATAL_ERROR " new_plugin: \"${name}\" is a name that Windows or CMake keeps for itself: choose another")
elseif(lower IN_LIST system_dlls OR lower MATCHES "^(msvcp|msvcr|vcruntime|libstdc|libgcc|libwinpthread)")
  message(FATAL_ERROR " new_plugin: \"${name}\" is the name of a DLL of Windows or of a C or C++ runtime, which "
                      "Windows (and Wine) would load in place of the plug-in: choose another")
endif()

if(folder MATCHES ";")
  message(FATAL_ERROR " new_plugin: the folder \"${folder}\" holds a \";\", which CMake takes for a list "
                      "separator: name a folder without one")
endif()
get_filename_component(folder "${folder}" ABSOLUTE)
# Inside the SDK (its template folder above all) a project would change what
# later projects are made of, or go with the SDK when it is replaced.
get_filename_component(real_sdk "${sdk}" REALPATH)
set(existing "${folder}")
while(NOT EXISTS "${existing}")
  cmake_path(GET existing PARENT_PATH existing)
endwhile()
get_filename_component(real_existing "${existing}" REALPATH)
cmake_path(IS_PREFIX real_sdk "${real_existing}" NORMALIZE inside)
if(inside)
  message(FATAL_ERROR " new_plugin: ${folder} is inside the SDK (${sdk}): name a folder outside it")
endif()
if(EXISTS "${folder}" AND NOT IS_DIRECTORY "${folder}")
  message(FATAL_ERROR " new_plugin: ${folder} is a file: name a new or empty folder")
endif()
if(IS_DIRECTORY "${folder}")
  file(GLOB present LIST_DIRECTORIES true "${folder}/*" "${folder}/.*")
  if(present)
    message(FATAL_ERROR " new_plugin: ${folder} is not empty: name a new or empty folder (nothing was written)")
  endif()
endif()

# Whether the project can be made beside its place, in the system's words,
# before anything is: the nearest folder there that exists takes a file for
# a moment.
cmake_path(GET folder PARENT_PATH parent)
set(writable "${parent}")
while(NOT IS_DIRECTORY "${writable}")
  cmake_path(GET writable PARENT_PATH writable)
endwhile()
string(RANDOM LENGTH 8 tag)
set(probe "${writable}/.new_plugin-${tag}.probe")
file(COPY_FILE "${CMAKE_CURRENT_LIST_FILE}" "${probe}" RESULT written)
file(REMOVE "${probe}")
if(NOT written EQUAL 0)
  message(FATAL_ERROR " new_plugin: cannot write in ${writable}: ${written} (nothing was written)")
endif()

# The project in a temporary folder beside its place.
file(MAKE_DIRECTORY "${parent}")
set(staging "${parent}/.new_plugin-${tag}")
file(MAKE_DIRECTORY "${staging}")

# What the template's files hold for @PLUGIN_NAME@, @SKARVEL_SDK_PREFIX@ (the
# SDK's folder), @SKARVEL_HOST@ and @SKARVEL_SANDBOXED@ (two of its programs)
# and @SKARVEL_SDK_PREFIX_JSON@ (the SDK's folder as a JSON string's content).
set(PLUGIN_NAME "${name}")
set(SKARVEL_SDK_PREFIX "${sdk}")
set(SKARVEL_HOST "${sdk}/${SKARVEL_SDK_BIN_DIR}/host.exe")
set(SKARVEL_SANDBOXED "${sdk}/${SKARVEL_SDK_SCRIPTS_DIR}/sandboxed.sh")
string(REPLACE "\\" "\\\\" SKARVEL_SDK_PREFIX_JSON "${sdk}")
string(REPLACE "\"" "\\\"" SKARVEL_SDK_PREFIX_JSON "${SKARVEL_SDK_PREFIX_JSON}")
file(GLOB_RECURSE files RELATIVE "${template}" LIST_DIRECTORIES false "${template}/*" "${template}/.*")
list(REMOVE_DUPLICATES files)
if(NOT files)
  file(REMOVE_RECURSE "${staging}")
  message(FATAL_ERROR " new_plugin: the SDK's template folder ${template} is missing or empty")
endif()
foreach(file IN LISTS files)
  string(REPLACE "plugin_name" "${name}" target "${file}")
  # CMakeUserPresets.json.in: the template's own .gitignore names the file
  # it becomes, which would keep it out of this repository too.
  string(REGEX REPLACE "^CMakeUserPresets\\.json\\.in$" "CMakeUserPresets.json" target "${target}")
  configure_file("${template}/${file}" "${staging}/${target}" @ONLY NEWLINE_STYLE UNIX)
endforeach()

# Into its place: a rename, over an empty folder where one is.
file(RENAME "${staging}" "${folder}" RESULT renamed)
if(NOT renamed EQUAL 0 AND IS_DIRECTORY "${folder}")
  # Windows does not rename over a folder: take the empty one away first.
  file(GLOB present LIST_DIRECTORIES true "${folder}/*" "${folder}/.*")
  if(NOT present)
    file(REMOVE_RECURSE "${folder}")
    file(RENAME "${staging}" "${folder}" RESULT renamed)
  endif()
endif()
if(NOT renamed EQUAL 0)
  file(REMOVE_RECURSE "${staging}")
  message(FATAL_ERROR " new_plugin: cannot make ${folder}: ${renamed} (nothing was written)")
endif()

message("new_plugin: made the plug-in project ${name} in ${folder}; build and test it there with\n"
        "    cmake --workflow --preset native     # the unit test of its frame logic\n"
        "    cmake --workflow --preset windows    # ${name}.dll with assertions on, and the validator's checks on it\n"
        "    cmake --workflow --preset release    # the ${name}.dll to ship")
