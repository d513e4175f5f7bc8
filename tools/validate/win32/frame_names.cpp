#include "tools/validate/win32/frame_names.h"

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "tools/common/win32/wide_text.h"
#include "tools/validate/child_verdict.h"
#include "tools/validate/debug_file.h"
#include "tools/validate/validate_options.h"
#include "tools/validate/win32/child_process.h"
#include "tools/validate/win32/plugin_under_test.h"

namespace validate {

namespace {

// How long the naming process may take: reading a large plug-in's debug
// information, and starting a process under Wine on a busy machine.
constexpr double naming_limit_seconds = 15.0;
// Output beyond this is not read: a line per offset is far less.
constexpr std::size_t output_limit = 1 << 20;

// ---- The naming process ----

// dbghelp's functions for code the compiler inlined (dbghelp 6.2 and Wine
// 7 on): looked up, so that a dbghelp without them still names functions.
struct inline_functions {
    using add_trace = DWORD(WINAPI*)(HANDLE, DWORD64);
    using query_trace = BOOL(WINAPI*)(HANDLE, DWORD64, DWORD, DWORD64, DWORD64, LPDWORD, LPDWORD);
    using from_context = BOOL(WINAPI*)(HANDLE, DWORD64, ULONG, PDWORD64, PSYMBOL_INFO);
    using line_from_context = BOOL(WINAPI*)(HANDLE, DWORD64, ULONG, DWORD64, PDWORD, PIMAGEHLP_LINE64);
    add_trace frames = nullptr;
    query_trace query = nullptr;
    from_context symbol = nullptr;
    line_from_context line = nullptr;

    inline_functions()
    {
        const HMODULE dbghelp = GetModuleHandleA("dbghelp.dll");
        if (dbghelp == nullptr) return;
        find(dbghelp, "SymAddrIncludeInlineTrace", frames);
        find(dbghelp, "SymQueryInlineTrace", query);
        find(dbghelp, "SymFromInlineContext", symbol);
        find(dbghelp, "SymGetLineFromInlineContext", line);
    }
    template <class Function>
    static void find(HMODULE dll, const char* name, Function& function)
    {
        function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
    }
    bool present() const noexcept { return frames && query && symbol && line; }
};

struct symbol_buffer {
    SYMBOL_INFO info;
    char name[512];
    symbol_buffer()
    {
        info = SYMBOL_INFO{};
        info.SizeOfStruct = sizeof(SYMBOL_INFO);
        info.MaxNameLen = sizeof name;
    }
};

void take_line(const IMAGEHLP_LINE64& line, source_place& place)
{
    if (line.FileName != nullptr) place.file = line.FileName;
    place.line = line.LineNumber;
}

source_place look_up(HANDLE session, DWORD64 base, std::uint64_t offset, const inline_functions& inlined)
{
    source_place place;
    place.offset = offset;
    const DWORD64 address = base + offset;
    symbol_buffer outer;
    DWORD64 displacement = 0;
    const bool in_function = SymFromAddr(session, address, &displacement, &outer.info) != FALSE;
    IMAGEHLP_LINE64 line{};
    line.SizeOfStruct = sizeof line;
    DWORD line_displacement = 0;
    DWORD context = 0;
    DWORD index = 0;
    const DWORD depth = inlined.present() ? inlined.frames(session, address) : 0;
    if (depth > 0 && inlined.query(session, address, 0, address, address, &context, &index)) {
        // The innermost inlined function, with its own line, and the
        // functions it was inlined into, out to the one the compiler made:
        // contexts `context` (innermost) to `context + depth`.
        symbol_buffer inner;
        DWORD64 inner_displacement = 0;
        if (inlined.symbol(session, address, context, &inner_displacement, &inner.info)) {
            place.function = inner.info.Name;
            if (inlined.line(session, address, context, 0, &line_displacement, &line)) take_line(line, place);
            std::string last = place.function;
            for (DWORD k = 1; k <= depth; ++k) {
                symbol_buffer enclosing;
                if (!inlined.symbol(session, address, context + k, &inner_displacement, &enclosing.info)) break;
                if (last == enclosing.info.Name) continue;
                last = enclosing.info.Name;
                place.inlined_in += (place.inlined_in.empty() ? "" : ", in ") + last;
            }
            if (in_function && last != outer.info.Name)
                place.inlined_in += (place.inlined_in.empty() ? "" : ", in ") + std::string(outer.info.Name);
        }
    }
    if (place.function.empty() && in_function) place.function = outer.info.Name;
    if (place.line == 0 && SymGetLineFromAddr64(session, address, &line_displacement, &line)) take_line(line, place);
    return place;
}

// ---- The validator's side ----

// Reads what the process writes until it ends, or until the limit.
bool read_until_end(HANDLE process, HANDLE output, double seconds, std::string& text)
{
    const double deadline = now_seconds() + seconds;
    char block[4096];
    for (;;) {
        const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        DWORD available = 0;
        while (PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               text.size() < output_limit) {
            DWORD got = 0;
            if (!ReadFile(output, block, sizeof block, &got, nullptr) || got == 0) break;
            text.append(block, got);
        }
        if (ended) return true;
        if (now_seconds() > deadline) return false;
        WaitForSingleObject(process, 10);
    }
}

}  // namespace

int print_offset_names(const std::string& dll, const std::string& offsets)
{
    std::vector<std::uint64_t> wanted;
    for (std::size_t at = 0; at <= offsets.size();) {
        const std::size_t comma = std::min(offsets.find(',', at), offsets.size());
        wanted.push_back(std::strtoull(offsets.substr(at, comma - at).c_str(), nullptr, 0));
        at = comma + 1;
    }
    std::string note;
    const std::string file = debug_file_for(dll, note);
    const std::size_t folder_end = dll.find_last_of("\\/");
    const std::string folder = folder_end == std::string::npos ? "." : dll.substr(0, folder_end);
    // Any value names a session that reads files and no process.
    const auto session = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(GetCurrentProcessId()));
    SymSetOptions(SYMOPT_UNDNAME | SYMOPT_LOAD_LINES | SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_NO_PROMPTS);
    // The wide functions, as the names may be any.
    if (!SymInitializeW(session, tools::wide_text(folder).c_str(), FALSE)) {
        std::printf("no debug information: dbghelp did not start\n");
        return 0;
    }
    constexpr DWORD64 base = 0x10000000;
    IMAGEHLP_MODULE64 module{};
    module.SizeOfStruct = sizeof module;
    // Export names alone would name the nearest export before an address:
    // only debug information with lines names anything.
    if (SymLoadModuleExW(session, nullptr, tools::wide_text(file).c_str(), nullptr, base, 0, nullptr, 0) == 0 ||
        !SymGetModuleInfo64(session, base, &module) || !module.LineNumbers) {
        std::printf("no debug information: %s\n",
                    note.empty() ? "the plug-in carries none that dbghelp reads" : note.c_str());
        SymCleanup(session);
        return 0;
    }
    std::printf("debug information: %s\n", file.c_str());
    const inline_functions inlined;
    for (std::uint64_t offset : wanted) {
        const source_place place = look_up(session, base, offset, inlined);
        if (!place.function.empty()) std::printf("%s\n", place_line(place).c_str());
    }
    SymCleanup(session);
    std::fflush(stdout);
    return 0;
}

named_offsets name_offsets(const std::string& dll, const std::vector<std::uint64_t>& offsets, double seconds)
{
    named_offsets named;
    if (offsets.empty()) return named;
    seconds = std::min(seconds, naming_limit_seconds);
    std::string list;
    for (std::uint64_t offset : offsets) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
        list += (list.empty() ? "" : ",") + std::string(text);
    }
    // In UTF-16, so that any name of the plug-in's reaches the naming process whole.
    std::wstring command = tools::wide_text(windows_command_line({own_path(), "--name-offsets", list, dll}));

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = nullptr;
    HANDLE child_output = nullptr;
    if (!CreatePipe(&output, &child_output, &inheritable, 0)) {
        named.why_not = "the validator could not start the reading of its debug information";
        return named;
    }
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    const HANDLE null_device = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdError = null_device;
    startup.hStdOutput = child_output;
    PROCESS_INFORMATION child{};
    const BOOL created =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    CloseHandle(child_output);
    if (null_device != INVALID_HANDLE_VALUE) CloseHandle(null_device);
    if (!created) {
        CloseHandle(output);
        named.why_not = "the validator could not start the reading of its debug information";
        return named;
    }
    CloseHandle(child.hThread);
    std::string text;
    if (!read_until_end(child.hProcess, output, seconds, text)) {
        TerminateProcess(child.hProcess, 1);
        named.why_not = "reading its debug information took longer than " + seconds_text(seconds);
    }
    CloseHandle(child.hProcess);
    CloseHandle(output);
    constexpr std::string_view none = "no debug information: ";
    if (text.compare(0, none.size(), none) == 0) {
        const std::size_t end = text.find('\n');
        named.why_not = text.substr(none.size(), end == std::string::npos ? std::string::npos : end - none.size());
        if (!named.why_not.empty() && named.why_not.back() == '\r') named.why_not.pop_back();
    }
    named.places = parse_place_lines(text);
    return named;
}

namespace {

// The DLL's file name, without its folder, in lower case: how a frame names
// its module.
std::string module_name_of(const std::string& path)
{
    const std::size_t folder = path.find_last_of("\\/");
    std::string name = path.substr(folder == std::string::npos ? 0 : folder + 1);
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return name;
}

// The offset to look up for a frame: that of its call, for a return address.
std::uint64_t place_of(const fault_frame& frame)
{
    return frame.return_address && frame.offset > 0 ? frame.offset - 1 : frame.offset;
}

struct naming_memory {
    std::map<std::uint64_t, source_place> places;  // every offset asked about, named or not
    std::string why_not;  // once the plug-in has shown that nothing can be named
};

}  // namespace

void name_fault_frames(const std::string& dll, std::vector<check_result>& results, double seconds)
{
    static naming_memory memory;
    const std::string module = module_name_of(dll);
    std::vector<std::uint64_t> wanted;
    for (const check_result& result : results)
        for (const fault_frame& frame : result.frames)
            if (module_name_of(frame.module) == module && memory.places.count(place_of(frame)) == 0)
                wanted.push_back(place_of(frame));
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    if (!wanted.empty() && memory.why_not.empty() && seconds < 1.0) {
        for (check_result& result : results)
            if (!result.frames.empty())
                result.notes.emplace_back("the plug-in's frames are not named by function: the run reached its limit");
        return;
    }
    if (!wanted.empty() && memory.why_not.empty()) {
        named_offsets named = name_offsets(dll, wanted, seconds);
        for (std::uint64_t offset : wanted) memory.places[offset] = source_place{offset, {}, {}, {}, 0};
        for (source_place& place : named.places) memory.places[place.offset] = std::move(place);
        if (named.places.empty()) memory.why_not = std::move(named.why_not);
    }
    for (check_result& result : results) {
        bool unnamed = false;
        for (fault_frame& frame : result.frames) {
            if (module_name_of(frame.module) != module) continue;
            const auto known = memory.places.find(place_of(frame));
            if (known == memory.places.end() || known->second.function.empty()) {
                unnamed = true;
                continue;
            }
            const source_place& place = known->second;
            frame.function = place.function;
            if (!place.inlined_in.empty()) frame.function += " (inlined in " + place.inlined_in + ")";
            frame.file = place.file;
            frame.line = place.line;
        }
        if (unnamed && !memory.why_not.empty())
            result.notes.push_back("the plug-in's frames are not named by function: " + memory.why_not);
    }
}

}  // namespace validate
