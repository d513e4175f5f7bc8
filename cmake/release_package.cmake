# What ships for Windows: skarvel-external-dll-<version>-win64.zip, made by
# CPack's ZIP generator from the install rules below (the README's command is
# `cmake --workflow --preset release`). It holds, in a folder of its name, each
# file in its folder of GNUInstallDirs (the same as any cmake --install),
#
#   bin/skarvel_external_dll.dll   the plug-in
#   bin/skarvel_recorder.dll       the flight recorder plug-in, which records what a host sends
#   bin/host.exe                   the host simulator
#   bin/listen.exe                 the motion listener
#   bin/validate.exe               the plug-in validator (when the build has it)
#   bin/plot_motion.py             a picture of the listener's CSV (Python, matplotlib)
#   share/skarvel/wireshark/skarvel_motion.lua   the motion datagram in Wireshark
#   share/doc/skarvel_external_dll/   README.md, CHANGELOG.md, LICENSE (MIT), docs/*.md
#   include/, lib/cmake/, share/skarvel/
#                                  the plug-in SDK (sdk/CMakeLists.txt): the folder is its
#                                  installation, found by find_package(SkarvelPluginSdk),
#                                  the three tools in its export set
#   SHA256SUMS                     the SHA-256 of every other file (sha256sum -c SHA256SUMS)
#
# Each binary carries a version resource: the product's name and version, and
# a description of its own. With SKARVEL_SEPARATE_DEBUG_INFO the package holds
# the binaries stripped; the debug information of each is kept beside the
# package as <file>.debug, which the binary names in its debug link (debuggers
# look for that file beside the binary).

option(SKARVEL_SEPARATE_DEBUG_INFO
  "Ship the binaries stripped, their debug information in files of their own beside the package" OFF)

set(SKARVEL_PRODUCT_NAME "Skarvel External DLL Sample")
set(SKARVEL_PACKAGE_NAME "skarvel-external-dll-${PROJECT_VERSION}-win64")
# The package's files, relative to its folder.
set(SKARVEL_PACKAGE_FILES "")

enable_language(RC)
if(SKARVEL_SEPARATE_DEBUG_INFO AND NOT CMAKE_OBJCOPY)
  message(FATAL_ERROR "SKARVEL_SEPARATE_DEBUG_INFO needs objcopy (MinGW-w64 binutils)")
endif()

# skarvel_ship(TARGET DESCRIPTION [EXPORTED]): TARGET's binary goes into the
# package, with a version resource that describes it as DESCRIPTION; EXPORTED,
# it is one of the SDK's imported targets too (Skarvel::TARGET).
function(skarvel_ship target description)
  cmake_parse_arguments(SHIP "EXPORTED" "" "" ${ARGN})
  # The binary's name, known here already (the version resource takes the
  # name the build gives it, which the package's check compares).
  get_target_property(type ${target} TYPE)
  get_target_property(base_name ${target} OUTPUT_NAME)
  if(NOT base_name)
    set(base_name ${target})
  endif()
  if(type STREQUAL "SHARED_LIBRARY")
    set(SKARVEL_FILE_TYPE VFT_DLL)
    get_target_property(prefix ${target} PREFIX)
    if(prefix STREQUAL "prefix-NOTFOUND")
      set(prefix ${CMAKE_SHARED_LIBRARY_PREFIX})
    endif()
    set(file_name ${prefix}${base_name}${CMAKE_SHARED_LIBRARY_SUFFIX})
  else()
    set(SKARVEL_FILE_TYPE VFT_APP)
    set(file_name ${base_name}${CMAKE_EXECUTABLE_SUFFIX})
  endif()
  set(SKARVEL_FILE_NAME "${file_name}")
  set(SKARVEL_INTERNAL_NAME "${base_name}")
  set(SKARVEL_FILE_DESCRIPTION "${description}")
  # Written when configuring, as a source file of the build's own: a file made
  # by file(GENERATE) is one that the build's clean removes and cannot make again.
  set(rc ${CMAKE_BINARY_DIR}/version_resources/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})

  if(SKARVEL_SEPARATE_DEBUG_INFO)
    set(shipped "${CMAKE_BINARY_DIR}/stripped/${file_name}")
    set(debug "${CMAKE_BINARY_DIR}/${file_name}.debug")
    add_custom_command(
      OUTPUT "${shipped}" "${debug}"
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/stripped
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug "$<TARGET_FILE:${target}>" "${debug}"
      COMMAND ${CMAKE_OBJCOPY} --strip-all "--add-gnu-debuglink=${debug}" "$<TARGET_FILE:${target}>" "${shipped}"
      DEPENDS ${target}
      COMMENT "Stripping ${file_name}, its debug information into ${file_name}.debug"
      VERBATIM)
    add_custom_target(${target}_stripped ALL DEPENDS "${shipped}" "${debug}")
  else()
    set(shipped "$<TARGET_FILE:${target}>")
  endif()
  if(SHIP_EXPORTED AND SKARVEL_SEPARATE_DEBUG_INFO)
    # The export set names the file that the stripped copy below puts there.
    install(TARGETS ${target} EXPORT SkarvelPluginSdk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} EXCLUDE_FROM_ALL)
  elseif(SHIP_EXPORTED)
    install(TARGETS ${target} EXPORT SkarvelPluginSdk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  if(NOT SHIP_EXPORTED OR SKARVEL_SEPARATE_DEBUG_INFO)
    install(PROGRAMS "${shipped}" DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  set(SKARVEL_PACKAGE_FILES ${SKARVEL_PACKAGE_FILES} "${CMAKE_INSTALL_BINDIR}/${file_name}" PARENT_SCOPE)
endfunction()

skarvel_ship(skarvel_external_dll "${SKARVEL_PRODUCT_NAME}: the plug-in")
skarvel_ship(skarvel_recorder "${SKARVEL_PRODUCT_NAME}: flight recorder plug-in")
skarvel_ship(host "${SKARVEL_PRODUCT_NAME}: host simulator" EXPORTED)
skarvel_ship(listen "${SKARVEL_PRODUCT_NAME}: motion listener" EXPORTED)
if(TARGET validate)
  skarvel_ship(validate "${SKARVEL_PRODUCT_NAME}: plug-in validator" EXPORTED)
endif()
# The export set's file for this build's configuration, beside the one
# sdk/CMakeLists.txt lists.
string(TOLOWER "${CMAKE_BUILD_TYPE}" config)
if(NOT config)
  set(config noconfig)
endif()
list(APPEND SKARVEL_PACKAGE_FILES ${CMAKE_INSTALL_LIBDIR}/cmake/SkarvelPluginSdk/SkarvelPluginSdkTargets-${config}.cmake)

# The motion datagram in Wireshark, for rig builders (the README says where
# it goes).
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/skarvel_motion.lua DESTINATION ${CMAKE_INSTALL_DATADIR}/skarvel/wireshark)
list(APPEND SKARVEL_PACKAGE_FILES ${CMAKE_INSTALL_DATADIR}/skarvel/wireshark/skarvel_motion.lua)

# The listener's plotting script, which the README names.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/listen/plot_motion.py DESTINATION ${CMAKE_INSTALL_BINDIR})
list(APPEND SKARVEL_PACKAGE_FILES ${CMAKE_INSTALL_BINDIR}/plot_motion.py)
# The README, the licence, the changelog and the docs, in one folder as in the
# source tree, so that the README's links hold.
install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${docs} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
list(APPEND SKARVEL_PACKAGE_FILES ${CMAKE_INSTALL_DOCDIR}/README.md ${CMAKE_INSTALL_DOCDIR}/CHANGELOG.md)
foreach(doc IN LISTS docs)
  cmake_path(GET doc FILENAME name)
  list(APPEND SKARVEL_PACKAGE_FILES ${CMAKE_INSTALL_DOCDIR}/docs/${name})
endforeach()
get_property(sdk_files GLOBAL PROPERTY SKARVEL_SDK_FILES)
list(APPEND SKARVEL_PACKAGE_FILES ${sdk_files})

# Last, over everything installed before it.
install(CODE "set(SKARVEL_CHECKSUMMED_FILES \"${SKARVEL_PACKAGE_FILES}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake)
list(APPEND SKARVEL_PACKAGE_FILES SHA256SUMS)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME skarvel-external-dll)
set(CPACK_PACKAGE_FILE_NAME ${SKARVEL_PACKAGE_NAME})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
