# The plug-in SDK's headers keep their place in the source tree (shared/input/,
# shared/interface/, catalogue/) and are included under one prefix, the way
# they are installed:
#     #include <skarvel/shared/input/tm_external_message.h>
# The include root that a target of the SDK hands on holds nothing but those
# headers: in the build tree one forwarding header each, in an install
# include/skarvel/ with the headers themselves.
set(SKARVEL_SDK_INCLUDE_DIR ${PROJECT_BINARY_DIR}/sdk/include)
include(GNUInstallDirs)

# skarvel_sdk_headers(TARGET FOLDER HEADER...): TARGET's headers, the files
# HEADER... of FOLDER (relative to the source root), as <skarvel/FOLDER/HEADER>.
# TARGET is C++17 for whoever uses it. The headers are listed in its property
# SKARVEL_SDK_HEADERS (paths relative to the source root), for installing them.
function(skarvel_sdk_headers target folder)
  foreach(header IN LISTS ARGN)
    file(CONFIGURE OUTPUT ${SKARVEL_SDK_INCLUDE_DIR}/skarvel/${folder}/${header}
         CONTENT "// The SDK header ${folder}/${header}, as <skarvel/${folder}/${header}>.\n#pragma once\n#include \"${PROJECT_SOURCE_DIR}/${folder}/${header}\"\n")
    set_property(TARGET ${target} APPEND PROPERTY SKARVEL_SDK_HEADERS ${folder}/${header})
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    set(scope PUBLIC)
  endif()
  target_include_directories(${target} ${scope}
    $<BUILD_INTERFACE:${SKARVEL_SDK_INCLUDE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${target} ${scope} cxx_std_17)
endfunction()
