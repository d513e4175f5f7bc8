# Install step of cmake/release_package.cmake: writes SHA256SUMS into the
# installation, one line "<SHA-256>  <path>" (as sha256sum -c reads it) for
# each of the installed files SKARVEL_CHECKSUMMED_FILES names.
set(installation "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(sums "")
foreach(file IN LISTS SKARVEL_CHECKSUMMED_FILES)
  if(NOT EXISTS "${installation}/${file}")
    message(FATAL_ERROR "SHA256SUMS: ${file} was not installed")
  endif()
  file(SHA256 "${installation}/${file}" sum)
  string(APPEND sums "${sum}  ${file}\n")
endforeach()
message(STATUS "Installing: ${installation}/SHA256SUMS")
file(WRITE "${installation}/SHA256SUMS" "${sums}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${installation}/SHA256SUMS")
