// The headers, export names and imported DLLs of a PE file on disk, read
// without loading it. Every offset is checked against the file's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace validate {

struct pe_image {
    bool readable = false;         // the file could be read
    bool pe = false;               // an MZ header leading to a PE signature
    bool pe32_plus = false;        // the 64-bit optional header
    std::uint16_t machine = 0;     // IMAGE_FILE_MACHINE_*
    bool dll = false;              // IMAGE_FILE_DLL
    bool tables_complete = false;  // export and import directories read to their end
    std::vector<std::string> export_names;
    std::vector<std::string> imported_dlls;
    std::vector<std::string> delay_loaded_dlls;
};

pe_image read_pe_image(const std::string& path);

}  // namespace validate
