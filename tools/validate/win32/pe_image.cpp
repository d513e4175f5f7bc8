#include "tools/validate/win32/pe_image.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <iterator>

namespace validate {

namespace {

class pe_file {
public:
    explicit pe_file(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        readable_ = static_cast<bool>(file);
        bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    bool readable() const noexcept { return readable_; }

    // The structure at file offset `offset`, or null when it does not fit.
    template <class T>
    const T* at(std::size_t offset, std::size_t count = 1) const noexcept
    {
        if (offset > bytes_.size() || count > (bytes_.size() - offset) / sizeof(T)) return nullptr;
        return reinterpret_cast<const T*>(bytes_.data() + offset);
    }

    std::string string_at(std::size_t offset) const
    {
        std::string text;
        while (offset < bytes_.size() && bytes_[offset] != 0 && text.size() < 512) text += bytes_[offset++];
        return text;
    }

private:
    bool readable_ = false;
    std::vector<char> bytes_;
};

}  // namespace

pe_image read_pe_image(const std::string& path)
{
    pe_image image;
    const pe_file file(path);
    image.readable = file.readable();
    const auto* dos = file.at<IMAGE_DOS_HEADER>(0);
    if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0) return image;
    const auto nt_offset = static_cast<std::size_t>(dos->e_lfanew);
    const auto* nt = file.at<IMAGE_NT_HEADERS32>(nt_offset);  // the common part of both forms
    if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE) return image;
    image.pe = true;
    image.machine = nt->FileHeader.Machine;
    image.dll = (nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0;
    image.pe32_plus = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    if (!image.pe32_plus) return image;
    const auto* nt64 = file.at<IMAGE_NT_HEADERS64>(nt_offset);
    if (nt64 == nullptr) return image;

    const unsigned section_count = nt64->FileHeader.NumberOfSections;
    const auto* sections = file.at<IMAGE_SECTION_HEADER>(
        nt_offset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt64->FileHeader.SizeOfOptionalHeader,
        section_count);
    if (sections == nullptr) return image;
    // The file offset of a relative virtual address, or SIZE_MAX.
    const auto offset = [&](std::uint32_t rva) -> std::size_t {
        for (unsigned i = 0; i < section_count; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            const std::uint32_t extent = std::max<std::uint32_t>(s.Misc.VirtualSize, s.SizeOfRawData);
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < extent)
                return s.PointerToRawData + (rva - s.VirtualAddress);
        }
        return SIZE_MAX;
    };
    const auto directory = [&](int entry) -> const IMAGE_DATA_DIRECTORY* {
        if (static_cast<DWORD>(entry) >= nt64->OptionalHeader.NumberOfRvaAndSizes) return nullptr;
        const IMAGE_DATA_DIRECTORY& d = nt64->OptionalHeader.DataDirectory[entry];
        return d.VirtualAddress != 0 ? &d : nullptr;
    };

    if (const IMAGE_DATA_DIRECTORY* exports = directory(IMAGE_DIRECTORY_ENTRY_EXPORT)) {
        const auto* table = file.at<IMAGE_EXPORT_DIRECTORY>(offset(exports->VirtualAddress));
        if (table == nullptr) return image;
        const auto* names = file.at<std::uint32_t>(offset(table->AddressOfNames), table->NumberOfNames);
        if (names == nullptr) return image;
        for (std::uint32_t i = 0; i < table->NumberOfNames; ++i)
            image.export_names.push_back(file.string_at(offset(names[i])));
    }
    if (const IMAGE_DATA_DIRECTORY* imports = directory(IMAGE_DIRECTORY_ENTRY_IMPORT)) {
        for (std::size_t at = offset(imports->VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto* descriptor = file.at<IMAGE_IMPORT_DESCRIPTOR>(at);
            if (descriptor == nullptr) return image;
            if (descriptor->Name == 0) break;
            image.imported_dlls.push_back(file.string_at(offset(descriptor->Name)));
        }
    }
    if (const IMAGE_DATA_DIRECTORY* delayed = directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT)) {
        for (std::size_t at = offset(delayed->VirtualAddress);; at += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
            const auto* descriptor = file.at<IMAGE_DELAYLOAD_DESCRIPTOR>(at);
            if (descriptor == nullptr) return image;
            if (descriptor->DllNameRVA == 0) break;
            image.delay_loaded_dlls.push_back(file.string_at(offset(descriptor->DllNameRVA)));
        }
    }
    image.tables_complete = true;
    return image;
}

}  // namespace validate
