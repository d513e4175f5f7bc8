#include "tools/validate/debug_file.h"

#include <fstream>
#include <string_view>
#include <vector>

#include <skarvel/shared/input/tm_byte_order.h>

#include "tools/common/crc32.h"
#include "tools/common/file_system.h"

namespace validate {

namespace {

using tm_byte_order::load_u16_le;
using tm_byte_order::load_u32_le;

// `size` bytes at `offset`, all of them, or false.
bool read_at(std::istream& file, std::uint64_t offset, std::uint8_t* to, std::size_t size)
{
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    if (!file) return false;
    file.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(file.gcount()) == size;
}

// A section's name: its eight bytes, or, for a longer name ("/4"), the
// string at that offset in the COFF string table.
std::string section_name(std::istream& file, const std::uint8_t* raw, std::uint64_t string_table)
{
    std::string name(reinterpret_cast<const char*>(raw), 8);
    name.resize(name.find('\0') == std::string::npos ? 8 : name.find('\0'));
    if (name.size() < 2 || name[0] != '/' || string_table == 0) return name;
    std::uint64_t offset = 0;
    for (std::size_t i = 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return name;
        offset = offset * 10 + static_cast<std::uint64_t>(name[i] - '0');
    }
    std::uint8_t text[64];
    std::string long_name;
    for (std::uint64_t at = string_table + offset; long_name.size() < 256; at += sizeof text) {
        file.clear();
        file.seekg(static_cast<std::streamoff>(at));
        file.read(reinterpret_cast<char*>(text), sizeof text);
        const auto got = static_cast<std::size_t>(file.gcount());
        if (got == 0) return name;
        for (std::size_t i = 0; i < got; ++i) {
            if (text[i] == 0) return long_name;
            long_name += static_cast<char>(text[i]);
        }
    }
    return name;
}

// A debug file's name must be a plain name, found beside the DLL.
bool plain_name(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string_view::npos;
}

bool file_crc(const std::string& path, std::uint32_t& crc)
{
    std::ifstream file(tools::file_path(path), std::ios::binary);
    if (!file) return false;
    std::vector<std::uint8_t> block(1 << 16);
    crc = 0;
    while (file) {
        file.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        crc = tools::crc32(block.data(), static_cast<std::size_t>(file.gcount()), crc);
    }
    return file.eof();
}

}  // namespace

bool read_pe_debug_info(std::istream& file, pe_debug_info& info)
{
    info = pe_debug_info{};
    std::uint8_t dos[64];
    if (!read_at(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const std::uint32_t pe = load_u32_le(dos + 0x3C);
    std::uint8_t header[24];
    if (!read_at(file, pe, header, sizeof header) || load_u32_le(header) != 0x00004550) return false;  // "PE\0\0"
    const std::uint16_t sections = load_u16_le(header + 6);
    const std::uint32_t symbols = load_u32_le(header + 12);
    const std::uint32_t symbol_count = load_u32_le(header + 16);
    const std::uint16_t optional_size = load_u16_le(header + 20);
    const std::uint64_t string_table = symbols == 0 ? 0 : symbols + std::uint64_t{symbol_count} * 18;
    const std::uint64_t table = std::uint64_t{pe} + sizeof header + optional_size;
    for (std::uint16_t i = 0; i < sections; ++i) {
        std::uint8_t section[40];
        if (!read_at(file, table + std::uint64_t{i} * sizeof section, section, sizeof section)) return false;
        const std::string name = section_name(file, section, string_table);
        if (name == ".debug_info") info.dwarf = true;
        if (name != ".gnu_debuglink") continue;
        // The name, its end mark, padding to four bytes, the CRC-32.
        const std::uint32_t size = load_u32_le(section + 16);
        const std::uint32_t offset = load_u32_le(section + 20);
        std::uint8_t link[264];
        const std::size_t length = size < sizeof link ? size : sizeof link;
        if (length < 8 || !read_at(file, offset, link, length)) continue;
        std::size_t end = 0;
        while (end < length && link[end] != 0) ++end;
        const std::size_t crc_at = (end + 4) & ~std::size_t{3};
        if (end == length || crc_at + 4 > length) continue;
        info.link.assign(reinterpret_cast<const char*>(link), end);
        info.link_crc = load_u32_le(link + crc_at);
    }
    return true;
}

std::string debug_file_for(const std::string& dll, std::string& note)
{
    note.clear();
    std::ifstream file(tools::file_path(dll), std::ios::binary);
    pe_debug_info info;
    if (!file || !read_pe_debug_info(file, info) || info.dwarf || info.link.empty()) return dll;
    if (!plain_name(info.link)) {
        note = "its debug link names \"" + info.link + "\", not a file beside it";
        return dll;
    }
    const std::size_t folder_end = dll.find_last_of("\\/");
    const std::string folder = folder_end == std::string::npos ? std::string() : dll.substr(0, folder_end + 1);
    std::string linked = folder + info.link;
    std::uint32_t crc = 0;
    if (!file_crc(linked, crc)) {
        note = "its debug file " + info.link + " is not beside it";
        return dll;
    }
    if (crc != info.link_crc) {
        note = "its debug file " + info.link + " beside it is of another build (its checksum differs)";
        return dll;
    }
    return linked;
}

}  // namespace validate
