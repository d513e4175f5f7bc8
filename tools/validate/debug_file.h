// Where a plug-in's debug information is: in the DLL itself (DWARF sections,
// or the PDB its CodeView record names, which dbghelp finds by itself), or
// in a separate debug file beside it that the DLL's .gnu_debuglink section
// names (GNU binutils: objcopy --only-keep-debug, then --add-gnu-debuglink),
// as this project's release build and the SDK keep it. Wine's dbghelp does
// not follow that link: the validator does, and hands dbghelp the debug file.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace validate {

struct pe_debug_info {
    bool dwarf = false;  // a .debug_info section in the file itself
    std::string link;  // the debug file's name, as the link gives it; empty without a link
    std::uint32_t link_crc = 0;  // the CRC-32 the debug file must have
};

// Reads the section table of a PE file; false when it is not one. Every
// offset and size is checked against the file.
bool read_pe_debug_info(std::istream& file, pe_debug_info& info);

// The file to read the DLL's debug information from: the DLL itself, unless
// it holds no DWARF and links a debug file that lies beside it with the
// CRC-32 the link gives. `note` says why a linked file is not used (missing,
// of another build), and is empty otherwise.
std::string debug_file_for(const std::string& dll, std::string& note);

}  // namespace validate
