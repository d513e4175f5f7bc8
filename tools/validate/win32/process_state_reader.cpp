#include "tools/validate/win32/process_state_reader.h"

#include <windows.h>
#include <objbase.h>
#include <xmmintrin.h>

#include <clocale>
#include <csignal>
#include <cwchar>

#include "tools/validate/win32/fault_capture.h"

namespace validate {

namespace {

// A wide text as UTF-8, into `out`.
void assign_utf8(std::string& out, const wchar_t* text, int length)
{
    out.clear();
    if (length <= 0) return;
    char buffer[4 * MAX_PATH];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, buffer, sizeof buffer, nullptr, nullptr);
    out.assign(buffer, bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
}

const int signal_numbers[6] = {SIGABRT, SIGINT, SIGTERM, SIGFPE, SIGSEGV, SIGILL};

com_apartment apartment_of_this_thread() noexcept
{
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return com_apartment::none;
    switch (type) {
        case APTTYPE_STA: return com_apartment::single_threaded;
        case APTTYPE_MTA:
            // In the multithreaded apartment only because another thread made it.
            return qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA ? com_apartment::none : com_apartment::multithreaded;
        case APTTYPE_NA: return com_apartment::neutral;
        case APTTYPE_MAINSTA: return com_apartment::main_single_threaded;
        default: return com_apartment::none;
    }
}

// The environment as process_state keeps it, into `out`.
void read_environment(std::string& out)
{
    out.clear();
    wchar_t* const block = GetEnvironmentStringsW();
    if (block == nullptr) return;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (entry[0] == L'=') continue;  // a drive's current directory, kept by the system
        const int length = static_cast<int>(wcslen(entry));
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, entry, length, nullptr, 0, nullptr, nullptr);
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(bytes > 0 ? bytes : 0));
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, entry, length, &out[at], bytes, nullptr, nullptr);
        out += '\0';
    }
    FreeEnvironmentStringsW(block);
}

}  // namespace

void read_process_state(process_state& state)
{
    state.mxcsr = _mm_getcsr() & ~0x3Fu;  // without the exception flags, which any computation sets
    std::uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    state.x87_control = control;
    state.thread_locale = GetThreadLocale();
    state.thread_priority = GetThreadPriority(GetCurrentThread());
    state.thread_error_mode = GetThreadErrorMode();
    state.apartment = apartment_of_this_thread();

    wchar_t text[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, text);
    assign_utf8(state.current_directory, text, length < MAX_PATH ? static_cast<int>(length) : 0);
    if (length >= MAX_PATH) state.current_directory = "(longer than MAX_PATH)";
    length = GetDllDirectoryW(MAX_PATH, text);
    assign_utf8(state.dll_directory, text, length < MAX_PATH ? static_cast<int>(length) : 0);

    // No call reads the filter: setting one returns it, and it is put back.
    const LPTOP_LEVEL_EXCEPTION_FILTER filter = SetUnhandledExceptionFilter(own_exception_filter());
    if (filter != own_exception_filter()) SetUnhandledExceptionFilter(filter);
    state.exception_filter = reinterpret_cast<std::uintptr_t>(filter);
    state.error_mode = GetErrorMode();
    const char* locale = std::setlocale(LC_ALL, nullptr);
    state.crt_locale.assign(locale != nullptr ? locale : "");
    state.priority_class = GetPriorityClass(GetCurrentProcess());
    state.standard_handles = {reinterpret_cast<std::uintptr_t>(GetStdHandle(STD_INPUT_HANDLE)),
                              reinterpret_cast<std::uintptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)),
                              reinterpret_cast<std::uintptr_t>(GetStdHandle(STD_ERROR_HANDLE))};
    for (std::size_t i = 0; i < state.signal_handlers.size(); ++i) {
        // Nor does a call read a handler: each is set and put back.
        const auto handler = std::signal(signal_numbers[i], SIG_DFL);
        if (handler != SIG_DFL && handler != SIG_ERR) std::signal(signal_numbers[i], handler);
        state.signal_handlers[i] = reinterpret_cast<std::uintptr_t>(handler);
    }
    read_environment(state.environment);
}

}  // namespace validate
