# The one reader of PE files' headers outside the Windows programs: the SDK's
# check after each link of a plug-in (check_plugin_exports.cmake) includes it,
# and the project's scripts run it to tell what a file is before Wine sees it:
#     cmake -DFILE=my_plugin.dll -P pe_file.cmake
# prints "pe MACHINE CHARACTERISTICS" (decimal), or "not-pe REASON", on stderr.
include_guard(GLOBAL)

# pe_file_read(VAR FILE OFFSET SIZE): the unsigned little-endian integer of SIZE
# bytes at OFFSET, as a decimal number; empty when the file ends before.
function(pe_file_read var file offset size)
  file(READ "${file}" hex OFFSET ${offset} LIMIT ${size} HEX)
  string(LENGTH "${hex}" length)
  math(EXPR wanted "${size} * 2")
  if(NOT length EQUAL wanted)
    set(${var} "" PARENT_SCOPE)
    return()
  endif()
  set(big_endian "")
  foreach(i RANGE 1 ${size})
    math(EXPR at "(${size} - ${i}) * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    string(APPEND big_endian "${byte}")
  endforeach()
  math(EXPR value "0x${big_endian}")
  set(${var} ${value} PARENT_SCOPE)
endfunction()

# pe_file_headers(FILE PREFIX): reads the DOS header, the PE signature and the
# file header. Sets PREFIX_error to why FILE is no PE file, or to "" and then
# PREFIX_machine, PREFIX_characteristics, PREFIX_section_count, PREFIX_optional
# (the optional header's offset) and PREFIX_sections (the section table's).
function(pe_file_headers file prefix)
  set(error "")
  pe_file_read(mz "${file}" 0 2)
  pe_file_read(pe "${file}" 60 4)
  if(NOT mz STREQUAL "23117" OR pe STREQUAL "")
    set(error "no PE header")
  else()
    pe_file_read(signature "${file}" ${pe} 4)
    math(EXPR at "${pe} + 4")
    pe_file_read(machine "${file}" ${at} 2)
    math(EXPR at "${pe} + 6")
    pe_file_read(section_count "${file}" ${at} 2)
    math(EXPR at "${pe} + 20")
    pe_file_read(optional_size "${file}" ${at} 2)
    math(EXPR at "${pe} + 22")
    pe_file_read(characteristics "${file}" ${at} 2)
    if(NOT signature STREQUAL "17744")
      set(error "no PE header")
    elseif(characteristics STREQUAL "")
      set(error "it ends within its PE header")
    else()
      math(EXPR optional "${pe} + 24")
      math(EXPR sections "${optional} + ${optional_size}")
      foreach(name machine characteristics section_count optional sections)
        set(${prefix}_${name} ${${name}} PARENT_SCOPE)
      endforeach()
    endif()
  endif()
  set(${prefix}_error "${error}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  pe_file_headers("${FILE}" found)
  if(found_error)
    message(NOTICE "not-pe ${found_error}")
  else()
    message(NOTICE "pe ${found_machine} ${found_characteristics}")
  endif()
endif()
