#include "tools/validate/win32/module_table.h"

#include <psapi.h>

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "tools/validate/win32/child_state.h"

namespace validate {

namespace {

// The loader's notification (ntdll's LdrRegisterDllNotification), declared
// here as the SDK headers do not have it.
struct loader_string {
    USHORT length;  // bytes
    USHORT maximum_length;
    PWSTR buffer;
};
struct dll_notification {
    ULONG flags;
    const loader_string* full_name;
    const loader_string* base_name;
    void* base;
    ULONG size;
};
constexpr ULONG dll_loaded = 1;
constexpr ULONG dll_unloaded = 2;
using notification_function = VOID(CALLBACK*)(ULONG, const dll_notification*, void*);
using register_function = LONG(NTAPI*)(ULONG, notification_function, void*, void**);

module_table& the_modules() noexcept
{
    return the_child().modules;
}

char lower(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_name(const char* a, const char* b) noexcept
{
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(*b)) return false;
    return *a == *b;
}

void copy_name(char (&to)[64], const char* from) noexcept
{
    std::size_t i = 0;
    for (; from[i] && i + 1 < sizeof to; ++i) to[i] = from[i];
    to[i] = '\0';
}

void add_module(std::uintptr_t first, std::uintptr_t end, const char* name) noexcept
{
    for (module_table::entry& entry : the_modules().modules) {
        if (entry.end.load() != 0) continue;
        copy_name(entry.name, name);
        entry.first = first;
        entry.end = end;
        return;
    }
}

void remove_module(std::uintptr_t first) noexcept
{
    for (module_table::entry& entry : the_modules().modules)
        if (entry.end.load() != 0 && entry.first.load() == first) entry.end = 0;
}

// A module's base name in UTF-8, as the plug-in's path is given: by hand, as
// the loader's notification is no place to call much. A name that does not
// fit is cut at a character.
void utf8_name(const WCHAR* wide, std::size_t length, char (&to)[64]) noexcept
{
    std::size_t at = 0;
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // a lone surrogate
        char bytes[4];
        std::size_t count = 0;
        if (c < 0x80) {
            bytes[count++] = static_cast<char>(c);
        } else if (c < 0x800) {
            bytes[count++] = static_cast<char>(0xC0 | (c >> 6));
            bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[count++] = static_cast<char>(0xE0 | (c >> 12));
            bytes[count++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes[count++] = static_cast<char>(0xF0 | (c >> 18));
            bytes[count++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (c & 0x3F));
        }
        if (at + count + 1 > sizeof to) break;
        for (std::size_t b = 0; b < count; ++b) to[at++] = bytes[b];
    }
    to[at] = '\0';
}

VOID CALLBACK on_dll(ULONG reason, const dll_notification* data, void*)
{
    if (data == nullptr || data->base_name == nullptr) return;
    char name[64] = {};
    utf8_name(data->base_name->buffer, data->base_name->length / sizeof(WCHAR), name);
    const auto first = reinterpret_cast<std::uintptr_t>(data->base);
    const std::uintptr_t end = first + data->size;
    module_table& t = the_modules();
    if (reason == dll_loaded) {
        add_module(first, end, name);
        if (t.plugin_expected && same_name(name, t.expected_plugin)) {
            t.plugin_expected = false;
            t.plugin_first = first;
            t.plugin_end = end;
        }
    } else if (reason == dll_unloaded) {
        remove_module(first);
        if (first == t.plugin_first.load()) {
            copy_name(t.unloaded_name, name);
            t.unloaded_first = first;
            t.unloaded_end = end;
            t.plugin_first = t.plugin_end = 0;
            ++t.unmaps;
        }
    }
}

}  // namespace

void start_module_table() noexcept
{
    HMODULE loaded[512];
    DWORD bytes = 0;
    if (EnumProcessModules(GetCurrentProcess(), loaded, sizeof loaded, &bytes)) {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
            MODULEINFO info{};
            WCHAR wide[64] = {};
            char name[64] = {};
            if (!GetModuleInformation(GetCurrentProcess(), loaded[i], &info, sizeof info)) continue;
            utf8_name(wide, GetModuleBaseNameW(GetCurrentProcess(), loaded[i], wide, 64), name);
            const auto first = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
            add_module(first, first + info.SizeOfImage, name);
        }
    }
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto subscribe = reinterpret_cast<register_function>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrRegisterDllNotification")));
    void* cookie = nullptr;
    if (subscribe != nullptr) subscribe(0, on_dll, nullptr, &cookie);
}

void expect_plugin(std::string_view file_name) noexcept
{
    module_table& t = the_modules();
    // Cut where utf8_name cuts a module's name: at a character.
    std::size_t length = std::min(file_name.size(), sizeof t.expected_plugin - 1);
    while (length > 0 && length < file_name.size() && (file_name[length] & 0xC0) == 0x80) --length;
    for (std::size_t i = 0; i < length; ++i) t.expected_plugin[i] = file_name[i];
    t.expected_plugin[length] = '\0';
    t.plugin_expected = true;
}

module_range plugin_range() noexcept
{
    return {the_modules().plugin_first.load(), the_modules().plugin_end.load()};
}

module_range unloaded_plugin_range() noexcept
{
    return {the_modules().unloaded_first.load(), the_modules().unloaded_end.load()};
}

long plugin_unmaps() noexcept
{
    return the_modules().unmaps.load();
}

code_location locate(std::uintptr_t address) noexcept
{
    for (const module_table::entry& entry : the_modules().modules) {
        const std::uintptr_t end = entry.end.load();
        const std::uintptr_t first = entry.first.load();
        if (end != 0 && address >= first && address < end) return {entry.name, address - first, false};
    }
    if (unloaded_plugin_range().contains(address))
        return {the_modules().unloaded_name, address - the_modules().unloaded_first.load(), true};
    return {};
}

namespace {

// Appends to a zero-terminated text of `size` bytes, cutting what does not fit.
class text_buffer {
public:
    text_buffer(char* text, std::size_t size) noexcept : text_(text), size_(size) { text_[0] = '\0'; }
    text_buffer& add(const char* piece) noexcept
    {
        while (*piece && length_ + 1 < size_) text_[length_++] = *piece++;
        text_[length_] = '\0';
        return *this;
    }
    text_buffer& hex(std::uintptr_t value) noexcept
    {
        char digits[24] = "0x";
        *std::to_chars(digits + 2, digits + sizeof digits - 1, value, 16).ptr = '\0';
        return add(digits);
    }

private:
    char* text_;
    std::size_t size_;
    std::size_t length_ = 0;
};

}  // namespace

void address_text(std::uintptr_t address, char* text, std::size_t size) noexcept
{
    text_buffer out(text, size);
    const code_location where = locate(address);
    if (where.module == nullptr)
        out.hex(address).add(" (in no module)");
    else
        out.add(where.unloaded ? "the unloaded plug-in " : "").add(where.module).add("+").hex(where.offset);
}

void write_address(result_writer& out, std::uintptr_t address) noexcept
{
    char text[160];
    address_text(address, text, sizeof text);
    out.text(text);
}

void write_fault_frame(result_writer& out, std::uintptr_t address, bool return_address) noexcept
{
    const code_location where = locate(address);
    if (where.module != nullptr) out.fault_frame_line(where.module, where.offset, {}, {}, 0, return_address);
}

std::string describe_address(std::uintptr_t address)
{
    char text[160];
    address_text(address, text, sizeof text);
    return text;
}

}  // namespace validate
