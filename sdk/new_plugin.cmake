# Makes a new plug-in project from the SDK's template:
#     cmake -P <SDK>/share/skarvel/new_plugin.cmake NAME FOLDER
#
# NAME names the plug-in: its DLL (NAME.dll), its CMake project and target, its
# source files. It is a letter followed by letters, digits and underscores, 64
# characters at most, and no name Windows or CMake keeps for itself (con, nul,
# test, install...). FOLDER is made, or must be an empty folder: nothing that
# exists is ever written over. The project finds this SDK through its
# CMakePresets.json; its README.md says what to do next.
#
# The project is written to a temporary folder beside FOLDER and put in its
# place in one step.
cmake_minimum_required(VERSION 3.25)
get_filename_component(sdk "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(template "${CMAKE_CURRENT_LIST_DIR}/template")
# Errors are one sentence on one line (a leading space keeps CMake from
# breaking it).

# The arguments after the script's own name.
set(arguments "")
set(after_script FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(after_script)
    list(APPEND arguments "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "-P")
    math(EXPR script "${i} + 1")
    set(skip ${script})
  elseif(DEFINED skip AND i EQUAL skip)
    set(after_script TRUE)
  endif()
endforeach()
list(LENGTH arguments count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR " new_plugin: give a name and a folder: cmake -P ${CMAKE_CURRENT_LIST_FILE} NAME FOLDER")
endif()
list(GET arguments 0 name)
list(GET arguments 1 folder)

if(NOT EXISTS "${sdk}/lib/cmake/SkarvelPluginSdk/SkarvelPluginSdkConfig.cmake")
  message(FATAL_ERROR " new_plugin: run the new_plugin.cmake of an installed SDK (the release package, "
                      "or cmake --install of a build): there is no SDK at ${sdk}")
endif()

string(LENGTH "${name}" length)
string(TOLOWER "${name}" lower)
set(reserved con prn aux nul com1 com2 com3 com4 com5 com6 com7 com8 com9 lpt1 lpt2 lpt3 lpt4 lpt5 lpt6 lpt7 lpt8
    lpt9 all clean help install test package package_source edit_cache rebuild_cache list_install_components
    zero_check all_build run_tests)
if(NOT name MATCHES "^[A-Za-z][A-Za-z0-9_]*$" OR length GREATER 64)
  message(FATAL_ERROR " new_plugin: \"${name}\" is not a plug-in name: a letter, then letters, digits and "
                      "underscores, at most 64 characters")
elseif(lower IN_LIST reserved)
  message(FATAL_ERROR " new_plugin: \"${name}\" is a name that Windows or CMake keeps for itself: choose another")
endif()

get_filename_component(folder "${folder}" ABSOLUTE)
if(EXISTS "${folder}" AND NOT IS_DIRECTORY "${folder}")
  message(FATAL_ERROR " new_plugin: ${folder} is a file: name a new or empty folder")
endif()
if(IS_DIRECTORY "${folder}")
  file(GLOB present LIST_DIRECTORIES true "${folder}/*" "${folder}/.*")
  if(present)
    message(FATAL_ERROR " new_plugin: ${folder} is not empty: name a new or empty folder (nothing was written)")
  endif()
endif()

# The project in a temporary folder beside its place.
cmake_path(GET folder PARENT_PATH parent)
file(MAKE_DIRECTORY "${parent}")
string(RANDOM LENGTH 8 tag)
set(staging "${parent}/.new_plugin-${tag}")
file(MAKE_DIRECTORY "${staging}")

# What the template's files hold for @PLUGIN_NAME@, @SKARVEL_SDK_PREFIX@ and
# @SKARVEL_SDK_PREFIX_JSON@ (the same, as a JSON string's content).
set(PLUGIN_NAME "${name}")
set(SKARVEL_SDK_PREFIX "${sdk}")
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
