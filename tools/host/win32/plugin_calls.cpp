#include "tools/host/win32/plugin_calls.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "tools/common/exception_names.h"
#include "tools/common/stop_requests.h"

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

// Where the plug-in stood for a fault on `thread`: "in Update (frame 30)",
// "on a thread of its own while the host was in Init", "outside any call
// into the plug-in".
int where_text(char* text, std::size_t size, DWORD thread) noexcept
{
    const char* call = current_call.load();
    const bool own_thread = thread == host_thread;
    if (call == nullptr)
        return std::snprintf(text, size,
                             own_thread ? "outside any call into the plug-in"
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
    const bool known =
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
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
    std::snprintf(
        text, size, "%s+0x%llx", utf8,
        static_cast<unsigned long long>(static_cast<const char*>(address) - reinterpret_cast<const char*>(module)));
}

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const auto code = static_cast<std::uint32_t>(record.ExceptionCode);
    char where[160];
    where_text(where, sizeof where, GetCurrentThreadId());
    char what[96];
    const char* name = tools::exception_name(code);
    if (code == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
        const ULONG_PTR kind = record.ExceptionInformation[0];
        std::snprintf(what, sizeof what, "access violation %s 0x%llx",
                      kind == 8   ? "executing"
                      : kind == 1 ? "writing"
                                  : "reading",
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

// Reports on one line what happened, `format` with where the plug-in stood
// for `thread` in its %s, and ends the host with status 1.
[[noreturn]] void end_with(const char* format, DWORD thread = GetCurrentThreadId()) noexcept
{
    char where[160];
    where_text(where, sizeof where, thread);
    char text[320] = "host: ";
    const int length = std::snprintf(text + 6, sizeof text - 7, format, where) + 6;
    const int end = length < static_cast<int>(sizeof text) - 1 ? length : static_cast<int>(sizeof text) - 2;
    text[end] = '\n';
    say(text, end + 1);
    TerminateProcess(GetCurrentProcess(), 1);
    std::abort();
}

[[noreturn]] void on_terminate() noexcept
{
    end_with("a C++ exception left the plug-in %s");
}

// abort() of the C runtime that the host and a MinGW plug-in share.
extern "C" void on_abort(int)
{
    end_with("the plug-in called abort() %s");
}

// How long a call into the plug-in may go on after a request to stop before
// the host ends itself: a plug-in that hangs, or a thread Wine cannot get
// out of a stack overflow, still lets a stop request end the run.
constexpr std::uint64_t stop_grace_ms = 10000;
std::atomic<std::uint64_t> calls_entered{0};
// When the call in progress began, if it runs the plug-in's DllMain; else 0.
std::atomic<std::uint64_t> dll_main_since{0};

DWORD WINAPI watch_stop_requests(void* running)
{
    SetEvent(static_cast<HANDLE>(running));
    std::uint64_t waiting_on = 0;  // the call seen in progress at the request
    std::uint64_t since = 0;
    for (;;) {
        Sleep(100);
        const std::uint64_t dll_main = dll_main_since.load();
        if (dll_main != 0 && GetTickCount64() - dll_main >= stop_grace_ms)
            end_with("the plug-in's DllMain has not returned for 10 s: it hangs %s", host_thread);
        const std::uint64_t call = current_call.load() != nullptr ? calls_entered.load() : 0;
        if (!tools::stop_requested() || call == 0 || call != waiting_on) {
            waiting_on = tools::stop_requested() ? call : 0;
            since = GetTickCount64();
            continue;
        }
        if (GetTickCount64() - since >= stop_grace_ms)
            end_with("asked to stop, the plug-in has not returned for 10 s: it hangs %s", host_thread);
    }
}

// The entry points as the host calls them: each marks its call. A C++
// exception that leaves the plug-in, from its own runtime, is caught here.
struct call_mark {
    explicit call_mark(const char* call) noexcept { entering(call); }
    ~call_mark() { left(); }
};

std::int64_t watched_version()
{
    call_mark mark("GetInterfaceVersion");
    try {
        return plugin_entry_points.get_interface_version();
    } catch (...) {
        on_terminate();
    }
}

bool watched_init(void* host_data)
{
    call_mark mark("Init");
    try {
        return plugin_entry_points.init(host_data);
    } catch (...) {
        on_terminate();
    }
}

void watched_update(double time_step, const std::uint8_t* stream, std::int32_t host_value, std::uint32_t count,
                    void* host_data, std::int32_t* output1, std::int32_t* output2)
{
    ++current_frame;
    call_mark mark(update_call);
    try {
        plugin_entry_points.update(time_step, stream, host_value, count, host_data, output1, output2);
    } catch (...) {
        on_terminate();
    }
}

void watched_shutdown()
{
    call_mark mark("Shutdown");
    try {
        plugin_entry_points.shutdown();
    } catch (...) {
        on_terminate();
    }
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
    std::signal(SIGABRT, on_abort);
    // The watchdog must be running before the plug-in is loaded: a thread's
    // start needs the loader lock, which a DllMain that hangs holds.
    const HANDLE running = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE watchdog = CreateThread(nullptr, SIZE_T{64} * 1024, watch_stop_requests, running,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (watchdog != nullptr) {
        if (running != nullptr && WaitForSingleObject(running, 10000) == WAIT_OBJECT_0) CloseHandle(running);
        CloseHandle(watchdog);
    }
}

void entering(const char* call, bool runs_dll_main) noexcept
{
    ++calls_entered;
    current_call = call;
    dll_main_since = runs_dll_main ? GetTickCount64() : 0;
}

void left() noexcept
{
    dll_main_since = 0;
    current_call = nullptr;
}

plugin_interface::entry_points watched(const plugin_interface::entry_points& plugin) noexcept
{
    plugin_entry_points = plugin;
    current_frame = 0;
    return {watched_version, watched_init, watched_update, watched_shutdown};
}

}  // namespace host
