// The headers, export names and imported DLLs of a PE file on disk, read
// without loading it. Only the headers and tables are read, each at its
// offset and each offset checked against the file's size, so that a file's
// size costs nothing: a 2 GiB DLL is judged as fast as a small one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace validate {

struct pe_image {
    bool readable = false;  // the file could be read
    bool pe = false;  // an MZ header leading to a PE signature
    bool pe32_plus = false;  // the 64-bit optional header
    std::uint16_t machine = 0;  // IMAGE_FILE_MACHINE_*
    bool dll = false;  // IMAGE_FILE_DLL
    bool tables_complete = false;  // export and import directories read to their end
    std::string table_problem;  // why they were not: "the export directory lies outside the file"
    std::vector<std::string> export_names;
    std::vector<std::string> imported_dlls;
    std::vector<std::string> delay_loaded_dlls;
};

pe_image read_pe_image(const std::string& path);

// Why the image is no PE32+ DLL for x64, as file.pe_format says it ("a
// 32-bit (PE32) file: the host is a 64-bit process"), or empty.
std::string pe_format_problem(const pe_image& image);

}  // namespace validate
