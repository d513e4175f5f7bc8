// Stop requests on Windows: the console's control events, and under Wine on
// Linux the two signals that Wine does not pass on.
#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "tools/common/stop_requests.h"

namespace tools {
namespace {

std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // The second is left to the system, which ends the process.
        return requested.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Returning would end the process now, the run's output unfinished:
        // the run sees the request, ends, and main() ends the process, this
        // thread with it.
        requested = true;
        Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

#if defined(__GNUC__) && defined(__x86_64__)

// Linux's own interface, reached from a Windows program that Wine runs in a
// Linux process: the rt_sigaction, getpid and kill system calls and the
// x86-64 system call convention. The handler is called by Linux, so it
// follows Linux's calling convention; it calls nothing but the system.
constexpr long linux_rt_sigaction = 13, linux_getpid = 39, linux_kill = 62;
constexpr int linux_sighup = 1;
constexpr int linux_sigterm = 15;
constexpr unsigned long long linux_sa_restorer = 0x04000000, linux_sa_onstack = 0x08000000,
                             linux_sa_restart = 0x10000000;

struct linux_sigaction {
    void (*handler)(int) __attribute__((sysv_abi));  // null: the default action
    unsigned long long flags;
    void (*restorer)();
    unsigned long long mask;
};

long long linux_system_call(long number, long long a = 0, long long b = 0, long long c = 0, long long d = 0) noexcept
{
    long long result;
    register long long r10 asm("r10") = d;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10)
                 : "rcx", "r11", "memory");
    return result;
}

long long set_linux_action(int signal, const linux_sigaction& action) noexcept
{
    return linux_system_call(linux_rt_sigaction, signal, reinterpret_cast<long long>(&action), 0, sizeof action.mask);
}

__attribute__((sysv_abi)) void on_linux_signal(int signal)
{
    if (!requested.exchange(true)) return;
    // The second: Linux's default action again, which ends the process as
    // soon as this handler returns.
    set_linux_action(signal, linux_sigaction{nullptr, 0, nullptr, 0});
    linux_system_call(linux_kill, linux_system_call(linux_getpid), signal);
}

extern "C" void tools_linux_signal_return();
// Where the handler returns to: the rt_sigreturn system call (15).
asm(".text\n"
    ".globl tools_linux_signal_return\n"
    "tools_linux_signal_return:\n"
    "    movl $15, %eax\n"
    "    syscall\n"
    "    hlt\n");

bool runs_under_wine_on_linux() noexcept
{
    using host_version = void(__cdecl*)(const char** system, const char** release);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto version = ntdll ? reinterpret_cast<host_version>(
                                     reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_host_version")))
                               : nullptr;
    if (version == nullptr) return false;
    const char* system = nullptr;
    const char* release = nullptr;
    version(&system, &release);
    return system != nullptr && std::strcmp(system, "Linux") == 0;
}

void catch_linux_stop_signals() noexcept
{
    if (!runs_under_wine_on_linux()) return;
    const linux_sigaction action{on_linux_signal, linux_sa_restorer | linux_sa_onstack | linux_sa_restart,
                                 tools_linux_signal_return, 0};
    for (const int signal : {linux_sigterm, linux_sighup}) set_linux_action(signal, action);
}

#else

void catch_linux_stop_signals() noexcept {}

#endif

}  // namespace

void catch_stop_requests() noexcept
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
    catch_linux_stop_signals();
}

const std::atomic<bool>& stop_requested() noexcept { return requested; }

}  // namespace tools
