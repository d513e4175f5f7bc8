// Names places in the plug-in's code by its debug information: the function,
// source file and line of an offset into the DLL, read with dbghelp (DWARF
// under Wine, PDB on Windows) from the DLL or from the debug file it links
// (debug_file.h). A debug file that dbghelp cannot read must cost the report
// no more than the names, so the reading runs in a process of its own, this
// program again with --name-offsets, ended when it takes too long.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/validate/check_result.h"
#include "tools/validate/source_places.h"

namespace validate {

struct named_offsets {
    std::vector<source_place> places;  // those that could be named, in no order
    // Why none could be, for the report: "the plug-in carries no debug
    // information that dbghelp reads"; empty when they could.
    std::string why_not;
};

// Looks the offsets up in a process of its own, within `seconds` (at most
// 15).
named_offsets name_offsets(const std::string& dll, const std::vector<std::uint64_t>& offsets, double seconds);

// Gives the frames of the plug-in at `dll` in these results their
// function, file and line, where its debug information has them; a result
// whose frames cannot be named says why in a note. What was looked up once
// is kept for the rest of the run, and a plug-in without debug information
// is asked about once. Within `seconds`, what is left of the run's time.
void name_fault_frames(const std::string& dll, std::vector<check_result>& results, double seconds);

// That process's work: the places of `offsets` (comma-separated, each in
// decimal or 0x-hexadecimal) in `dll`, one line each on standard output,
// after a first line "debug information: FILE" or "no debug information:
// WHY". Returns the exit status.
int print_offset_names(const std::string& dll, const std::string& offsets);

}  // namespace validate
