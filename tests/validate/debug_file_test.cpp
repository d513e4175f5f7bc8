// Where a plug-in's debug information is: its own DWARF, or the debug file
// its .gnu_debuglink names beside it, used only when it is of the same
// build; and the places the naming process reports, read back.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_byte_order.h>

#include "tools/common/crc32.h"
#include "tools/validate/debug_file.h"
#include "tools/validate/source_places.h"

using namespace validate;

namespace {

// A PE file as the linker and objcopy lay it out, reduced to what is read:
// the DOS header's pointer, the COFF header, the section table, a long
// section name in the string table after the symbol table, and the debug
// link's bytes.
std::string pe_file(const std::vector<std::string>& sections, const std::string& link, std::uint32_t crc)
{
    std::vector<std::uint8_t> bytes(0x400, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    const std::uint32_t pe = 0x80;
    tm_byte_order::store_u32_le(&bytes[0x3C], pe);
    tm_byte_order::store_u32_le(&bytes[pe], 0x00004550);
    tm_byte_order::store_u16_le(&bytes[pe + 6], static_cast<std::uint16_t>(sections.size()));
    const std::uint32_t symbols = 0x300;  // no symbols: the string table starts here
    tm_byte_order::store_u32_le(&bytes[pe + 12], symbols);
    tm_byte_order::store_u16_le(&bytes[pe + 20], 0xF0);  // the optional header's size
    std::string strings(4, '\0');  // the table's own length comes first
    const std::uint32_t link_at = 0x200;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        std::uint8_t* header = &bytes[pe + 24 + 0xF0 + 40 * i];
        std::string name = sections[i];
        if (name.size() > 8) {
            const std::string reference = "/" + std::to_string(strings.size());
            strings += name + '\0';
            name = reference;
        }
        std::copy(name.begin(), name.end(), header);
        if (sections[i] == ".gnu_debuglink") {
            std::string content = link + '\0';
            content.resize((content.size() + 3) & ~std::size_t{3}, '\0');
            std::copy(content.begin(), content.end(), &bytes[link_at]);
            tm_byte_order::store_u32_le(&bytes[link_at + content.size()], crc);
            tm_byte_order::store_u32_le(header + 16, static_cast<std::uint32_t>(content.size() + 4));
            tm_byte_order::store_u32_le(header + 20, link_at);
        }
    }
    bytes.resize(symbols);
    bytes.insert(bytes.end(), strings.begin(), strings.end());
    return std::string(bytes.begin(), bytes.end());
}

pe_debug_info read(const std::string& bytes, bool& ok)
{
    std::istringstream in(bytes);
    pe_debug_info info;
    ok = read_pe_debug_info(in, info);
    return info;
}

std::string write(const std::string& name, const std::string& bytes)
{
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

}  // namespace

TEST(DebugFile, ReadsTheLinkAndTheDwarfSectionsFromTheSectionTable)
{
    bool ok = false;
    pe_debug_info info = read(pe_file({".text", ".data", ".gnu_debuglink"}, "my_plugin.dll.debug", 0xA1B2C3D4), ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(info.dwarf);
    EXPECT_EQ(info.link, "my_plugin.dll.debug");
    EXPECT_EQ(info.link_crc, 0xA1B2C3D4u);

    info = read(pe_file({".text", ".debug_info", ".debug_line"}, "", 0), ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(info.dwarf);
    EXPECT_TRUE(info.link.empty());

    // Cut anywhere, or not a PE file at all: read without a fault.
    const std::string whole = pe_file({".text", ".gnu_debuglink"}, "x.debug", 7);
    for (std::size_t length = 0; length < whole.size(); length += 7) read(whole.substr(0, length), ok);
    EXPECT_FALSE(read("MZ but nothing more", ok).dwarf);
    EXPECT_FALSE(ok);
}

TEST(DebugFile, TheLinkedFileIsUsedOnlyBesideTheDllAndOfItsBuild)
{
    const std::string debug_bytes = "debug information of this build";
    const std::uint32_t crc =
        tools::crc32(reinterpret_cast<const std::uint8_t*>(debug_bytes.data()), debug_bytes.size());
    const std::string dll =
        write("linked_plugin.dll", pe_file({".text", ".gnu_debuglink"}, "linked_plugin.dll.debug", crc));
    std::string note;
    std::remove((dll + ".debug").c_str());
    EXPECT_EQ(debug_file_for(dll, note), dll);
    EXPECT_EQ(note, "its debug file linked_plugin.dll.debug is not beside it");

    write("linked_plugin.dll.debug", "debug information of another build");
    EXPECT_EQ(debug_file_for(dll, note), dll);
    EXPECT_EQ(note, "its debug file linked_plugin.dll.debug beside it is of another build (its checksum differs)");

    write("linked_plugin.dll.debug", debug_bytes);
    EXPECT_EQ(debug_file_for(dll, note), dll + ".debug");
    EXPECT_EQ(note, "");

    const std::string escaping =
        write("escaping_plugin.dll", pe_file({".gnu_debuglink"}, "../linked_plugin.dll.debug", crc));
    EXPECT_EQ(debug_file_for(escaping, note), escaping);
    EXPECT_EQ(note, "its debug link names \"../linked_plugin.dll.debug\", not a file beside it");

    // Its own debug information comes first.
    const std::string own =
        write("own_plugin.dll", pe_file({".debug_info", ".gnu_debuglink"}, "linked_plugin.dll.debug", crc));
    EXPECT_EQ(debug_file_for(own, note), own);
}

TEST(SourcePlaces, ALineReadsBackAndOnlyWholeLinesCount)
{
    source_place place{0x1a2b, "update", "Skarvel_External_DLL_Update", "Z:\\src\\plug\tin\\test_plugin.cpp", 412};
    const std::optional<source_place> back = parse_place_line(place_line(place) + "\r");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->offset, 0x1a2bu);
    EXPECT_EQ(back->function, "update");
    EXPECT_EQ(back->file, "Z:\\src\\plug in\\test_plugin.cpp");
    EXPECT_EQ(back->inlined_in, "Skarvel_External_DLL_Update");
    EXPECT_EQ(back->line, 412u);

    const std::vector<source_place> places = parse_place_lines("debug information: p.dll\r\n"
                                                               "0x10\tf\t\ta.cpp\t3\r\n"
                                                               "0x20\t\t\t\t0\n"  // no function
                                                               "0xZZ\tg\t\tb.cpp\t4\n"  // no offset
                                                               "0x30\th\t\tc.cpp\t99999999999\n");  // no line
    ASSERT_EQ(places.size(), 1u);
    EXPECT_EQ(places[0].function, "f");
    EXPECT_EQ(places[0].line, 3u);
}
