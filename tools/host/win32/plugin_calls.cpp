#include "tools/host/win32/plugin_calls.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "tools/common/exception_names.h"

namespace host {
namespace {

constexpr char update_call[] = "Update";

std::atomic<const char*> current_call{nullptr};
std::atomic<std::uint64_t> current_frame{0};
DWORD host_thread = 0;
plugin_interface::entry_points plugin_entry_points{};

// Written without the C runtime's buffers, which a crashed process may have
// left in any state.
void say(const char* text, int length) noexcept
{
    std::fflush(stdout);
    DWORD written = 0;
    if (length > 0) WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
}

// "in Update (frame 30)", "on another thread while the host was in Init",
// "outside any call into the plug-in".
int where_text(char* text, std::size_t size) noexcept
{
    const char* call = current_call.load();
    const bool own_thread = GetCurrentThreadId() == host_thread;
    if (call == nullptr)
        return std::snprintf(text, size, own_thread ? "outside any call into the plug-in"
                                                    : "on a thread of its own, between the host's calls");
    const char* prefix = own_thread ? "in " : "on a thread of its own while the host was in ";
    if (call == update_call)
        return std::snprintf(text, size, "%sUpdate (frame %llu)", prefix,
                             static_cast<unsigned long long>(current_frame.load()));
    return std::snprintf(text, size, "%s%s", prefix, call);
}

// "test_plugin.dll+0x1a2b", or the bare address outside any module.
void address_text(const void* address, char* text, std::size_t size) noexcept
{
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH];
    const bool known = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                          static_cast<LPCWSTR>(address), &module) &&
                       GetModuleFileNameW(module, path, MAX_PATH) != 0;
    if (!known) {
        std::snprintf(text, size, "%p", address);
        return;
    }
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    char utf8[MAX_PATH * 3];
    const int length = WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (length <= 0) utf8[0] = '\0';
    std::snprintf(text, size, "%s+0x%llx", utf8,
                  static_cast<unsigned long long>(static_cast<const char*>(address) -
                                                  reinterpret_cast<const char*>(module)));
}

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const auto code = static_cast<std::uint32_t>(record.ExceptionCode);
    char where[160];
    where_text(where, sizeof where);
    char what[96];
    const char* name = tools::exception_name(code);
    if (code == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
        const ULONG_PTR kind = record.ExceptionInformation[0];
        std::snprintf(what, sizeof what, "access violation %s 0x%llx",
                      kind == 8 ? "executing" : kind == 1 ? "writing" : "reading",
                      static_cast<unsigned long long>(record.ExceptionInformation[1]));
    } else {
        std::snprintf(what, sizeof what, "%s", name != nullptr ? name : "an exception");
    }
    char at[MAX_PATH * 3 + 32];
    address_text(record.ExceptionAddress, at, sizeof at);
    char text[1024];
    const int length = std::snprintf(text, sizeof text, "host: the plug-in crashed %s: %s at %s (0x%08X)\n", where,
                                     what, at, static_cast<unsigned>(code));
    say(text, length < static_cast<int>(sizeof text) ? length : static_cast<int>(sizeof text) - 1);
    TerminateProcess(GetCurrentProcess(), 1);
    return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void on_terminate() noexcept
{
    char where[160];
    where_text(where, sizeof where);
    char text[256];
    const int length = std::snprintf(text, sizeof text, "host: a C++ exception left the plug-in %s\n", where);
    say(text, length < static_cast<int>(sizeof text) ? length : static_cast<int>(sizeof text) - 1);
    TerminateProcess(GetCurrentProcess(), 1);
    std::abort();
}

// The entry points as the host calls them: each marks its call.
struct call_mark {
    explicit call_mark(const char* call) noexcept { entering(call); }
    ~call_mark() { left(); }
};

std::int64_t watched_version()
{
    call_mark mark("GetInterfaceVersion");
    return plugin_entry_points.get_interface_version();
}

bool watched_init(void* host_data)
{
    call_mark mark("Init");
    return plugin_entry_points.init(host_data);
}

void watched_update(double time_step, const std::uint8_t* stream, std::int32_t host_value, std::uint32_t count,
                    void* host_data, std::int32_t* output1, std::int32_t* output2)
{
    ++current_frame;
    call_mark mark(update_call);
    plugin_entry_points.update(time_step, stream, host_value, count, host_data, output1, output2);
}

void watched_shutdown()
{
    call_mark mark("Shutdown");
    plugin_entry_points.shutdown();
}

}  // namespace

void report_crashes() noexcept
{
    host_thread = GetCurrentThreadId();
    // Room on the host's thread for the report after a stack overflow.
    ULONG reserve = 64 * 1024;
    SetThreadStackGuarantee(&reserve);
    SetUnhandledExceptionFilter(on_unhandled_exception);
    std::set_terminate(on_terminate);
}

void entering(const char* call) noexcept { current_call = call; }

void left() noexcept { current_call = nullptr; }

plugin_interface::entry_points watched(const plugin_interface::entry_points& plugin) noexcept
{
    plugin_entry_points = plugin;
    current_frame = 0;
    return {watched_version, watched_init, watched_update, watched_shutdown};
}

}  // namespace host
