#include "tools/validate/win32/pe_image.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "tools/common/win32/wide_text.h"

namespace validate {

namespace {

// The most names an export table may have (its ordinals are 16 bits), and
// the most DLLs an import table is read for: beyond them a table is taken
// for damaged, not read on through a file of any size.
constexpr std::uint32_t most_exports = 65535;
constexpr std::size_t most_imported_dlls = 65536;

// The class of a pointer to a member.
template <class Member>
struct class_of;
template <class Class, class Type>
struct class_of<Type Class::*> {
    using type = Class;
};

// Reads a file by offset, a window of it at a time: names that lie side by
// side cost one read.
class pe_file {
public:
    explicit pe_file(const std::string& path)
        : file_(CreateFileW(tools::windows_path(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        LARGE_INTEGER size{};
        readable_ = file_ != INVALID_HANDLE_VALUE && GetFileSizeEx(file_, &size);
        size_ = readable_ ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }
    ~pe_file()
    {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    pe_file(const pe_file&) = delete;
    pe_file& operator=(const pe_file&) = delete;

    bool readable() const noexcept { return readable_; }

    // Copies `count` objects from file offset `offset`; false when they do
    // not lie wholly within the file, or cannot be read.
    template <class T>
    bool read(std::uint64_t offset, T* to, std::size_t count = 1)
    {
        if (offset > size_ || count > (size_ - offset) / sizeof(T)) return false;
        return copy(offset, reinterpret_cast<char*>(to), count * sizeof(T));
    }

    // The zero-terminated string at `offset`, of at most 512 characters.
    std::string string_at(std::uint64_t offset)
    {
        std::string text;
        char c = 0;
        while (text.size() < 512 && read(offset++, &c) && c != 0) text += c;
        return text;
    }

private:
    static constexpr std::size_t window_size = std::size_t{64} * 1024;

    bool copy(std::uint64_t offset, char* to, std::size_t length)
    {
        while (length > 0) {
            if (offset < window_start_ || offset >= window_start_ + window_.size()) {
                if (!fill(offset)) return false;
            }
            const std::size_t at = static_cast<std::size_t>(offset - window_start_);
            const std::size_t part = std::min(length, window_.size() - at);
            std::copy_n(window_.data() + at, part, to);
            to += part;
            offset += part;
            length -= part;
        }
        return true;
    }

    bool fill(std::uint64_t offset)
    {
        window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(window_size, size_ - offset)));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (window_.empty() || !ReadFile(file_, window_.data(), static_cast<DWORD>(window_.size()), &got, &at) ||
            got != window_.size()) {
            window_.clear();
            return false;
        }
        window_start_ = offset;
        return true;
    }

    HANDLE file_;
    bool readable_ = false;
    std::uint64_t size_ = 0;
    std::vector<char> window_;
    std::uint64_t window_start_ = 0;
};

}  // namespace

pe_image read_pe_image(const std::string& path)
{
    pe_image image;
    pe_file file(path);
    image.readable = file.readable();
    IMAGE_DOS_HEADER dos{};
    if (!file.read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return image;
    const auto nt_offset = static_cast<std::uint64_t>(dos.e_lfanew);
    IMAGE_NT_HEADERS32 nt{};  // the common part of both forms
    if (!file.read(nt_offset, &nt) || nt.Signature != IMAGE_NT_SIGNATURE) return image;
    image.pe = true;
    image.machine = nt.FileHeader.Machine;
    image.dll = (nt.FileHeader.Characteristics & IMAGE_FILE_DLL) != 0;
    image.pe32_plus = nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    if (!image.pe32_plus) return image;
    IMAGE_NT_HEADERS64 nt64{};
    if (!file.read(nt_offset, &nt64)) {
        image.table_problem = "the headers run past the end of the file";
        return image;
    }

    const unsigned section_count = nt64.FileHeader.NumberOfSections;
    std::vector<IMAGE_SECTION_HEADER> sections(section_count);
    if (!file.read(nt_offset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt64.FileHeader.SizeOfOptionalHeader,
                   sections.data(), section_count)) {
        image.table_problem = "its section table runs past the end of the file";
        return image;
    }
    // The file offset of a relative virtual address, or UINT64_MAX.
    const auto offset = [&](std::uint32_t rva) -> std::uint64_t {
        for (const IMAGE_SECTION_HEADER& s : sections) {
            const std::uint32_t extent = std::max<std::uint32_t>(s.Misc.VirtualSize, s.SizeOfRawData);
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < extent)
                return std::uint64_t{s.PointerToRawData} + (rva - s.VirtualAddress);
        }
        return UINT64_MAX;
    };
    const auto directory = [&](int entry) -> const IMAGE_DATA_DIRECTORY* {
        if (static_cast<DWORD>(entry) >= nt64.OptionalHeader.NumberOfRvaAndSizes) return nullptr;
        const IMAGE_DATA_DIRECTORY& d = nt64.OptionalHeader.DataDirectory[entry];
        return d.VirtualAddress != 0 ? &d : nullptr;
    };

    if (const IMAGE_DATA_DIRECTORY* exports = directory(IMAGE_DIRECTORY_ENTRY_EXPORT)) {
        IMAGE_EXPORT_DIRECTORY table{};
        if (!file.read(offset(exports->VirtualAddress), &table)) {
            image.table_problem = "its export directory lies outside the file";
            return image;
        }
        if (table.NumberOfNames > most_exports) {
            image.table_problem =
                "its export table claims " + std::to_string(table.NumberOfNames) + " names, more than a DLL can have";
            return image;
        }
        std::vector<std::uint32_t> names(table.NumberOfNames);
        if (!file.read(offset(table.AddressOfNames), names.data(), names.size())) {
            image.table_problem = "its export table's names lie outside the file";
            return image;
        }
        for (const std::uint32_t name : names) image.export_names.push_back(file.string_at(offset(name)));
    }
    // The names of the DLLs that a table of descriptors (import or
    // delay-load) lists up to its zero one.
    const auto read_dlls = [&](int entry, auto name_of, std::vector<std::string>& dlls, const char* what) {
        using descriptor_type = typename class_of<decltype(name_of)>::type;
        const IMAGE_DATA_DIRECTORY* table = directory(entry);
        if (table == nullptr) return true;
        for (std::uint64_t at = offset(table->VirtualAddress);; at += sizeof(descriptor_type)) {
            descriptor_type descriptor{};
            if (!file.read(at, &descriptor)) {
                image.table_problem = std::string("its ") + what + " table runs past the end of the file";
                return false;
            }
            if (descriptor.*name_of == 0) return true;
            if (dlls.size() >= most_imported_dlls) {
                image.table_problem = std::string("its ") + what + " table has no end within " +
                                      std::to_string(most_imported_dlls) + " DLLs";
                return false;
            }
            dlls.push_back(file.string_at(offset(descriptor.*name_of)));
        }
    };
    if (!read_dlls(IMAGE_DIRECTORY_ENTRY_IMPORT, &IMAGE_IMPORT_DESCRIPTOR::Name, image.imported_dlls, "import") ||
        !read_dlls(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT, &IMAGE_DELAYLOAD_DESCRIPTOR::DllNameRVA, image.delay_loaded_dlls,
                   "delay-load import"))
        return image;
    image.tables_complete = true;
    return image;
}

std::string pe_format_problem(const pe_image& image)
{
    if (!image.readable) return "the file cannot be read";
    if (!image.pe) return "not a Windows executable file (no PE header)";
    if (!image.pe32_plus) return "a 32-bit (PE32) file: the host is a 64-bit process";
    if (image.machine != IMAGE_FILE_MACHINE_AMD64) {
        char text[96];
        std::snprintf(text, sizeof text, "built for machine 0x%04X, not x64 (0x8664)", image.machine);
        return text;
    }
    if (!image.dll) return "an executable, not a DLL";
    return {};
}

}  // namespace validate
