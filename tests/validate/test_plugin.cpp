// A minimal sound plug-in of the interface, built once as it is, once for
// each defect that plug-in authors really make, and once for each unusual
// but legal thing a sound plug-in may do (its file name names it). The
// validator must pass the sound and the unusual ones and flag each defect
// for what it is.
//
// The sound plug-in: Init starts a worker thread that holds a reference on
// the library, Update reads the stream within the Size of each message and
// sets both outputs to 0, Shutdown stops and joins the worker. No exception
// leaves an entry point.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <ws2tcpip.h>

#include <float.h>  // NOLINT(modernize-deprecated-headers): _controlfp_s is Microsoft's, not <cfloat>'s
#include <xmmintrin.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/interface/plugin_interface.h>

namespace {

// Every build, named by what it does; the DLL's file name,
// test_plugin_<name>.dll, chooses which (one build serves all but the two
// whose difference is the build's own: missing_export, runtime_dependency).
#define TEST_PLUGIN_DEFECTS(X)                                                                                   \
    X(none)                                                                                                      \
    X(throws_in_init) /* a C++ exception leaves Init */                                                          \
    X(crash_in_update) /* a null pointer written through in frame 30 */                                          \
    X(hang_in_shutdown) /* Shutdown waits for a worker that was never told to stop */                            \
    X(thread_left) /* Shutdown leaves the worker running */                                                      \
    X(window_left) /* Init makes a window that Shutdown never destroys */                                        \
    X(thread_running_at_unload) /* the worker holds no reference; Shutdown does not wait for it */               \
    X(handle_per_frame) /* an event handle made in every Update, never closed */                                 \
    X(socket_per_frame) /* a socket made in every Update, never closed */                                        \
    X(memory_per_frame) /* 256 bytes allocated in every Update, never freed */                                   \
    X(reads_past_stream) /* copies a whole 128-byte record whatever the Size */                                  \
    X(writes_into_stream) /* ends String8 values with a zero in the host's stream */                             \
    X(slow_init) /* Init does a second and a half of work */                                                     \
    X(update_stutter) /* every 20th Update takes 25 ms */                                                        \
    X(update_computes) /* every Update computes for 8 ms on the host's thread */                                 \
    X(update_sleeps) /* every Update sleeps for 8 ms */                                                          \
    X(worker_computes) /* every Update waits while its worker computes for 8 ms */                               \
    X(runtime_dependency) /* linked against the C++ runtime DLL */                                               \
    X(wrong_version) /* answers an older interface version */                                                    \
    X(missing_export) /* Shutdown not exported */                                                                \
    /* What ends a host, named for what it is: */                                                                \
    X(hang_at_attach) /* DllMain never returns from DLL_PROCESS_ATTACH */                                        \
    X(crash_at_attach) /* DllMain writes through a null pointer at DLL_PROCESS_ATTACH */                         \
    X(deadlock_at_detach) /* DllMain waits at DLL_PROCESS_DETACH for its own thread, which needs the loader */   \
    /* lock to end */                                                                                            \
    X(stack_overflow) /* unbounded recursion in frame 10 */                                                      \
    X(kept_stream) /* keeps the stream pointer and reads it in the next Update */                                \
    X(abort_in_update) /* abort() in frame 20 */                                                                 \
    X(exit_process) /* ExitProcess(7) in frame 5 */                                                              \
    X(terminate_process) /* TerminateProcess of its own process in Shutdown */                                   \
    X(joinable_at_exit) /* a std::thread of its own, joined by Shutdown, is still joinable when the */           \
    /* process exits */                                                                                          \
    /* Process state changed and not restored: */                                                                \
    X(mxcsr_in_update) /* flush-to-zero and denormals-are-zero turned on in Update */                            \
    X(x87_in_update) /* the x87 rounding set to truncate in Update */                                            \
    X(cwd_in_init) /* the current directory changed in Init */                                                   \
    X(filter_in_init) /* the unhandled-exception filter replaced in Init */                                      \
    X(error_mode_in_init) /* every error dialog turned off for the process in Init */                            \
    X(dll_directory_in_init) /* SetDllDirectory in Init */                                                       \
    X(locale_in_init) /* the C runtime's locale set in Init */                                                   \
    X(priority_in_update) /* the host thread's priority raised in Update */                                      \
    X(std_handle_in_init) /* the standard output handle replaced in Init */                                      \
    X(signal_in_init) /* a SIGINT handler of its own installed in Init */                                        \
    X(thread_error_mode_in_init) /* the host thread's own error mode changed in Init */                          \
    X(path_in_init) /* its own folder put in front of PATH in Init */                                            \
    X(com_in_init) /* COM initialized on the host's thread in Init, never uninitialized */                       \
    /* What still points into the DLL after FreeLibrary: */                                                      \
    X(class_left) /* a window class registered in Init, never unregistered */                                    \
    X(handler_left) /* a vectored exception handler added in Init, never removed */                              \
    X(hook_left) /* a message hook on the host's thread set in Init, never removed */                            \
    X(timer_left) /* a timer of the host's thread with a procedure, set in Init, never killed */                 \
    X(ctrl_handler_left) /* a console control handler added in Init, never removed */                            \
    X(pool_timer_left) /* a thread-pool timer set in Init to come back every minute, never stopped */            \
    /* The outputs and memory: */                                                                                \
    X(outputs_untouched) /* Update never writes its two outputs */                                               \
    X(outputs_too_wide) /* Update writes 8 bytes into each 4-byte output */                                      \
    X(leaks_fast) /* 1 MiB allocated and filled in every Update, never freed */                                  \
    X(allocates_until_failure) /* 64 MiB more in every Update, filled, until allocation fails, 150 ms pause */   \
    X(commits_in_thread) /* a thread started in Init takes 16 MiB more every 10 ms */                            \
    X(init_takes_memory) /* Init takes all but 256 MiB of the machine's free memory */                           \
    /* A failed assertion, named with its own text: */                                                           \
    X(wrong_getter) /* GetDouble on a message that is not a Double, in frame 12 */                               \
    /* Calls in Update that block the host's frame, each reported as a warning: */                               \
    X(file_writes_in_update) /* fwrite and fflush to a log opened in Init */                                     \
    X(win32_writes_in_update) /* WriteFile and FlushFileBuffers to a file opened in Init */                      \
    X(opens_in_update) /* fopen, fprintf and fclose of a log */                                                  \
    X(sleeps_in_update) /* Sleep(2) */                                                                           \
    X(waits_in_update) /* waits for its worker to answer, which takes it 2 ms */                                 \
    X(lock_in_update) /* enters a critical section that its worker holds for 3 ms */                             \
    X(receives_in_update) /* recvfrom and select with a timeout on a blocking UDP socket */                      \
    X(tcp_in_update) /* connect, send, accept and recv on blocking TCP sockets */                                \
    X(looks_up_in_update) /* getaddrinfo of "localhost" */                                                       \
    /* Unusual but legal: each must pass. */                                                                     \
    X(fp_restored) /* Update computes with other FP settings and restores them; Init changes the */              \
    /* current directory and restores it; its worker runs with flush-to-zero on */                               \
    X(tidy_registrations) /* a window class, a vectored handler and a thread timer, each undone in Shutdown; */  \
    /* Update throws and catches a C++ exception */                                                              \
    X(writes_files) /* writes a log file to the current directory in Init, Update and Shutdown */                \
    X(lets_go_late) /* Shutdown only tells the worker to stop; it lets go of the library 100 ms later */         \
    X(thread_pool_tidy) /* a thread-pool timer, a registered wait and a work item from Init, each stopped */     \
    /* and waited for in Shutdown */                                                                             \
    X(host_state_restored) /* Init changes the error modes, PATH and COM and restores them before it returns; */ \
    /* a console control handler from Init to Shutdown */                                                        \
    X(environment_added) /* Init adds an environment variable of its own (a warning, not a failure) */           \
    X(nonblocking_in_update) /* the same calls, none of which waits: a datagram sent, a non-blocking receive, */ \
    /* waits and select that only poll, a numeric address, a free lock; the log */                               \
    /* written by the worker */

enum class defect {
#define TEST_PLUGIN_DEFECT_ENUMERATOR(name) name,
    TEST_PLUGIN_DEFECTS(TEST_PLUGIN_DEFECT_ENUMERATOR)
#undef TEST_PLUGIN_DEFECT_ENUMERATOR
};

// Set from the file name when the library is loaded, before anything runs.
defect flaw = defect::none;

defect defect_of(HINSTANCE library)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(library, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return defect::none;
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    constexpr char prefix[] = "test_plugin_";
    if (_strnicmp(name, prefix, sizeof prefix - 1) != 0) return defect::none;
    name += sizeof prefix - 1;
#define TEST_PLUGIN_DEFECT_NAMED(defect_name) \
    if (_stricmp(name, #defect_name ".dll") == 0) return defect::defect_name;
    TEST_PLUGIN_DEFECTS(TEST_PLUGIN_DEFECT_NAMED)
#undef TEST_PLUGIN_DEFECT_NAMED
    return defect::none;
}

HANDLE worker = nullptr;
HANDLE stop_worker = nullptr;
std::atomic<std::uint64_t> frames{0};
std::atomic<std::uint64_t> worker_ticks{0};
HWND window = nullptr;
std::string last_error;  // keeps the C++ runtime in use

// Where computed and read values go, so that the compiler keeps the work.
volatile double computed = 0.0;
volatile std::uint8_t read_back = 0;

// Computes for about `ms` milliseconds of a processor's time: a fixed amount
// of work, measured once as the fastest of a few tries (a busy machine slows
// a try down, never speeds it up), so that it is as much work on a busy
// machine as on an idle one.
void compute_for(double ms)
{
    constexpr int round = 1000;
    const auto work = [](long long rounds) {
        double x = computed;
        for (long long r = 0; r < rounds; ++r)
            for (int i = 0; i < round; ++i) x = x * 0.9999999 + 1e-3;  // stays finite
        computed = x;
    };
    static const double rounds_per_ms = [&] {
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        double best = 0.0;
        for (int attempt = 0; attempt < 20; ++attempt) {
            QueryPerformanceCounter(&start);
            work(20);
            QueryPerformanceCounter(&end);
            const double elapsed_ms = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
            if (elapsed_ms > 0.0 && 20.0 / elapsed_ms > best) best = 20.0 / elapsed_ms;
        }
        return best;
    }();
    work(static_cast<long long>(rounds_per_ms * ms));
}

// ---- Work that blocks the host's frame when Update does it itself ----

// What the blocking defects and their sound twin keep from Init to
// Shutdown: a log, an event on which Update asks the worker for something
// and one on which it answers, a lock the two share, and sockets on the
// loopback address.
std::FILE* log_file = nullptr;
HANDLE log_handle = INVALID_HANDLE_VALUE;
HANDLE request = nullptr;
HANDLE answer = nullptr;
CRITICAL_SECTION shared_lock;
bool shared_lock_made = false;
SOCKET datagrams = INVALID_SOCKET;
sockaddr_in datagram_address{};
SOCKET listener = INVALID_SOCKET;
sockaddr_in listener_address{};

bool flaw_is(std::initializer_list<defect> any)
{
    for (defect d : any)
        if (flaw == d) return true;
    return false;
}

// A socket bound to a free port of the loopback address, whose address is kept;
// INVALID_SOCKET when there is none.
SOCKET loopback_socket(int type, sockaddr_in& address)
{
    const SOCKET s = socket(AF_INET, type, 0);
    if (s == INVALID_SOCKET) return s;
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    // A receive that finds nothing gives up after a second instead of hanging.
    const DWORD timeout_ms = 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms), sizeof timeout_ms);
    return s;
}

void open_blocking_work()
{
    if (flaw_is({defect::file_writes_in_update, defect::nonblocking_in_update}))
        log_file = std::fopen("test_plugin.log", "a");
    if (flaw == defect::win32_writes_in_update)
        log_handle =
            CreateFileA("test_plugin.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (flaw_is({defect::waits_in_update, defect::lock_in_update, defect::nonblocking_in_update,
                 defect::worker_computes})) {
        request = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        answer = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    if (!shared_lock_made && flaw_is({defect::lock_in_update, defect::nonblocking_in_update})) {
        InitializeCriticalSection(&shared_lock);
        shared_lock_made = true;
    }
    if (flaw_is({defect::receives_in_update, defect::nonblocking_in_update})) {
        datagrams = loopback_socket(SOCK_DGRAM, datagram_address);
        u_long nonblocking = 1;
        if (flaw == defect::nonblocking_in_update) ioctlsocket(datagrams, FIONBIO, &nonblocking);
    }
    if (flaw == defect::tcp_in_update) {
        listener = loopback_socket(SOCK_STREAM, listener_address);
        listen(listener, 16);
    }
}

// After the worker has ended.
void close_blocking_work()
{
    if (log_file != nullptr) std::fclose(log_file);
    if (log_handle != INVALID_HANDLE_VALUE) CloseHandle(log_handle);
    for (HANDLE* event : {&request, &answer})
        if (*event != nullptr) CloseHandle(*event);
    for (SOCKET* s : {&datagrams, &listener})
        if (*s != INVALID_SOCKET) closesocket(*s);
    log_file = nullptr;
    log_handle = INVALID_HANDLE_VALUE;
    request = answer = nullptr;
    datagrams = listener = INVALID_SOCKET;
}

// The worker's side of a request from Update.
void answer_request()
{
    if (flaw == defect::waits_in_update) {
        Sleep(2);
        SetEvent(answer);
    }
    if (flaw == defect::worker_computes) {
        compute_for(8.0);
        SetEvent(answer);
    }
    if (flaw == defect::lock_in_update) {
        EnterCriticalSection(&shared_lock);
        SetEvent(answer);
        Sleep(3);
        LeaveCriticalSection(&shared_lock);
    }
    if (flaw == defect::nonblocking_in_update && log_file != nullptr) {
        std::fputs("a frame\n", log_file);
        std::fflush(log_file);
    }
}

void blocking_work(std::uint64_t frame)
{
    char line[64];
    const int length = std::snprintf(line, sizeof line, "frame %llu\n", static_cast<unsigned long long>(frame));
    const auto datagram = reinterpret_cast<const sockaddr*>(&datagram_address);
    char byte = 0;
    fd_set readable;
    FD_ZERO(&readable);
    timeval timeout{0, flaw == defect::receives_in_update ? 1000 : 0};
    switch (flaw) {
        case defect::file_writes_in_update:
            if (log_file == nullptr) break;
            std::fwrite(line, 1, static_cast<std::size_t>(length), log_file);
            std::fflush(log_file);
            break;
        case defect::win32_writes_in_update: {
            DWORD written = 0;
            if (log_handle == INVALID_HANDLE_VALUE) break;
            WriteFile(log_handle, line, static_cast<DWORD>(length), &written, nullptr);
            FlushFileBuffers(log_handle);
            break;
        }
        case defect::opens_in_update:
            if (std::FILE* log = std::fopen("test_plugin.log", "a")) {
                std::fprintf(log, "frame %llu\n", static_cast<unsigned long long>(frame));
                std::fclose(log);
            }
            break;
        case defect::sleeps_in_update: Sleep(2); break;
        case defect::update_sleeps: Sleep(8); break;
        case defect::update_computes: compute_for(8.0); break;
        case defect::waits_in_update:
        case defect::lock_in_update:
        case defect::worker_computes:
            if (request == nullptr) break;
            SetEvent(request);
            WaitForSingleObject(answer, INFINITE);
            if (flaw == defect::lock_in_update) {
                EnterCriticalSection(&shared_lock);  // held by the worker for 3 ms
                LeaveCriticalSection(&shared_lock);
            }
            break;
        case defect::receives_in_update:
        case defect::nonblocking_in_update:
            if (datagrams == INVALID_SOCKET) break;
            sendto(datagrams, "x", 1, 0, datagram, sizeof datagram_address);
            recvfrom(datagrams, &byte, 1, 0, nullptr, nullptr);
            FD_SET(datagrams, &readable);
            select(0, &readable, nullptr, nullptr, &timeout);
            if (flaw != defect::nonblocking_in_update) break;
            // Each of these returns at once.
            WaitForSingleObject(answer, 0);
            EnterCriticalSection(&shared_lock);
            LeaveCriticalSection(&shared_lock);
            if (addrinfo* found = nullptr; getaddrinfo("127.0.0.1", "50001", nullptr, &found) == 0) freeaddrinfo(found);
            SetEvent(request);  // the worker writes the log
            break;
        case defect::tcp_in_update: {
            if (listener == INVALID_SOCKET) break;
            const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            // Without a connection accept would wait for ever.
            if (connect(client, reinterpret_cast<const sockaddr*>(&listener_address), sizeof listener_address) == 0) {
                send(client, "x", 1, 0);
                const SOCKET served = accept(listener, nullptr, nullptr);
                const DWORD timeout_ms = 1000;
                setsockopt(served, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout_ms),
                           sizeof timeout_ms);
                recv(served, &byte, 1, 0);
                closesocket(served);
            }
            closesocket(client);
            break;
        }
        case defect::looks_up_in_update: {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            if (addrinfo* found = nullptr; getaddrinfo("localhost", nullptr, &hints, &found) == 0) freeaddrinfo(found);
            break;
        }
        default: break;
    }
}

// The worker holds a reference on this library and drops it as its last
// act, so that its code stays loaded while it runs, even when the host
// unloads the library without Shutdown. Between its ticks it answers what
// Update asks of it.
DWORD WINAPI worker_main(void* library)
{
    // A thread of its own may run with any settings.
    if (flaw == defect::fp_restored) _mm_setcsr(_mm_getcsr() | 0x8040);
    const HANDLE wake[] = {stop_worker, request};
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(request != nullptr ? 2 : 1, wake, FALSE, 10);
        if (woke == WAIT_OBJECT_0 + 1)
            answer_request();
        else if (woke != WAIT_TIMEOUT)
            break;
        ++worker_ticks;
    }
    if (flaw == defect::thread_running_at_unload) {
        Sleep(300);  // "flushing" after the stop, with no reference held
        return 0;
    }
    if (flaw == defect::lets_go_late) Sleep(100);  // "flushing", holding its reference
    FreeLibraryAndExitThread(static_cast<HMODULE>(library), 0);
}

LONG CALLBACK ignore_exception(EXCEPTION_POINTERS*)
{
    return EXCEPTION_CONTINUE_SEARCH;
}
LRESULT CALLBACK window_procedure(HWND handle, UINT message, WPARAM w, LPARAM l)
{
    return DefWindowProcA(handle, message, w, l);
}
VOID CALLBACK on_timer(HWND, UINT, UINT_PTR, DWORD) {}
LRESULT CALLBACK on_message(int code, WPARAM w, LPARAM l)
{
    return CallNextHookEx(nullptr, code, w, l);
}
// A log in the current directory: the legal writes_files, and a plug-in that
// crashes, whose log is what its author will want to read.
void log_line(const char* what)
{
    if (flaw != defect::writes_files && flaw != defect::crash_in_update) return;
    if (std::FILE* log = std::fopen("test_plugin.log", "a")) {
        std::fprintf(log, "%s\n", what);
        std::fclose(log);
    }
}
const char plugin_class[] = "test_plugin_class";
// joinable_at_exit's thread: destroyed while joinable, it calls std::terminate.
std::thread helper;
std::atomic<bool> helper_stop{false};
PVOID handler = nullptr;
UINT_PTR timer = 0;

// Memory taken and never given back, filled so that it is the process's
// for real. Never more than 3 GiB in all, whatever the defect asks: should
// the validator not stop the plug-in, the machine it shares stays usable.
std::atomic<std::uint64_t> memory_taken{0};
bool take_memory(std::size_t bytes)
{
    constexpr std::uint64_t most = 3ull << 30;
    if (memory_taken + bytes > most) return false;
    void* block = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (block == nullptr) return false;
    std::memset(block, 1, bytes);
    memory_taken += bytes;
    return true;
}
HANDLE memory_taker = nullptr;
std::atomic<bool> stop_taking{false};
DWORD WINAPI take_memory_on(void*)
{
    while (!stop_taking) {
        take_memory(16u << 20);
        Sleep(10);
    }
    return 0;
}

// The folder of this library, as a plug-in finds its own.
std::string own_folder()
{
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const char*>(&own_folder), &self);
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    std::string folder(path, length < MAX_PATH ? length : 0);
    return folder.substr(0, folder.find_last_of("\\/"));
}
std::string environment_value(const char* name)
{
    char value[32768];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return std::string(value, length < sizeof value ? length : 0);
}

BOOL WINAPI on_console_event(DWORD)
{
    return FALSE;  // the host's handlers decide
}

PTP_TIMER pool_timer = nullptr;
HANDLE wait_event = nullptr;
HANDLE registered_wait = nullptr;
PTP_WORK work = nullptr;
VOID CALLBACK on_pool_timer(PTP_CALLBACK_INSTANCE, PVOID, PTP_TIMER)
{
    ++worker_ticks;
}
VOID CALLBACK on_wait(PVOID, BOOLEAN)
{
    ++worker_ticks;
}
VOID CALLBACK on_work(PTP_CALLBACK_INSTANCE, PVOID, PTP_WORK)
{
    ++worker_ticks;
}
// A timer of the thread pool, due after `period_ms` and again every `period_ms`.
void start_pool_timer(DWORD period_ms)
{
    pool_timer = CreateThreadpoolTimer(on_pool_timer, nullptr, nullptr);
    ULARGE_INTEGER due;
    due.QuadPart = static_cast<ULONGLONG>(-10000LL * period_ms);  // relative, in 100 ns
    FILETIME due_time{due.LowPart, due.HighPart};
    SetThreadpoolTimer(pool_timer, &due_time, period_ms, 0);
}

// What the legal host_state_restored does in Init: each change undone
// before Init returns.
void change_and_restore_host_state()
{
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS);
    SetErrorMode(mode);
    DWORD thread_mode = 0;
    if (SetThreadErrorMode(0, &thread_mode)) SetThreadErrorMode(thread_mode, nullptr);
    const std::string path = environment_value("PATH");
    SetEnvironmentVariableA("PATH", (own_folder() + ";" + path).c_str());
    SetEnvironmentVariableA("PATH", path.c_str());
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) CoUninitialize();
}

// Changes process state as each defect does, or does and undoes as the legal
// plug-ins do.
void change_state_in_init()
{
    if (flaw == defect::cwd_in_init) SetCurrentDirectoryA("C:\\");
    if (flaw == defect::filter_in_init) SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return 0; });
    if (flaw == defect::error_mode_in_init)
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (flaw == defect::thread_error_mode_in_init) SetThreadErrorMode(0, nullptr);
    if (flaw == defect::path_in_init)
        SetEnvironmentVariableA("PATH", (own_folder() + ";" + environment_value("PATH")).c_str());
    if (flaw == defect::com_in_init) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (flaw == defect::host_state_restored) change_and_restore_host_state();
    if (flaw == defect::environment_added) SetEnvironmentVariableA("TEST_PLUGIN_HOME", own_folder().c_str());
    if (flaw == defect::ctrl_handler_left || flaw == defect::host_state_restored)
        SetConsoleCtrlHandler(on_console_event, TRUE);
    if (flaw == defect::pool_timer_left) start_pool_timer(60000);
    if (flaw == defect::thread_pool_tidy) {
        start_pool_timer(10);
        wait_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        RegisterWaitForSingleObject(&registered_wait, wait_event, on_wait, nullptr, INFINITE, WT_EXECUTEDEFAULT);
        work = CreateThreadpoolWork(on_work, nullptr, nullptr);
        SubmitThreadpoolWork(work);
    }
    if (flaw == defect::commits_in_thread) {
        stop_taking = false;
        memory_taker = CreateThread(nullptr, 0, take_memory_on, nullptr, 0, nullptr);
    }
    if (flaw == defect::init_takes_memory) {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        GlobalMemoryStatusEx(&status);
        constexpr std::uint64_t chunk = 64u << 20;
        const std::uint64_t free = status.ullAvailPhys;
        for (std::uint64_t taken = 0; taken + chunk + (256u << 20) <= free && take_memory(chunk); taken += chunk) {
        }
    }
    if (flaw == defect::dll_directory_in_init) SetDllDirectoryA("C:\\");
    if (flaw == defect::locale_in_init) std::setlocale(LC_ALL, "German_Germany.1252");
    if (flaw == defect::std_handle_in_init) SetStdHandle(STD_OUTPUT_HANDLE, CreateEventA(nullptr, 0, 0, nullptr));
    if (flaw == defect::signal_in_init) std::signal(SIGINT, [](int) {});
    if (flaw == defect::fp_restored) {
        char folder[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, folder);
        SetCurrentDirectoryA("C:\\");
        SetCurrentDirectoryA(folder);
    }
    if (flaw == defect::class_left || flaw == defect::tidy_registrations) {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = window_procedure;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = plugin_class;
        RegisterClassA(&window_class);
    }
    if (flaw == defect::handler_left || flaw == defect::tidy_registrations)
        handler = AddVectoredExceptionHandler(0, ignore_exception);
    if (flaw == defect::tidy_registrations || flaw == defect::timer_left) timer = SetTimer(nullptr, 0, 60000, on_timer);
    if (flaw == defect::hook_left) SetWindowsHookExA(WH_GETMESSAGE, on_message, nullptr, GetCurrentThreadId());
    if (flaw == defect::joinable_at_exit) {
        helper_stop = false;
        helper = std::thread([] {
            while (!helper_stop) Sleep(10);
        });
    }
}

void undo_state_in_shutdown()
{
    if (flaw == defect::joinable_at_exit) {
        helper_stop = true;
        if (helper.joinable()) helper.join();
    }
    if (flaw == defect::host_state_restored) SetConsoleCtrlHandler(on_console_event, FALSE);
    if (flaw == defect::thread_pool_tidy) {
        SetThreadpoolTimer(pool_timer, nullptr, 0, 0);
        WaitForThreadpoolTimerCallbacks(pool_timer, TRUE);
        CloseThreadpoolTimer(pool_timer);
        UnregisterWaitEx(registered_wait, INVALID_HANDLE_VALUE);
        CloseHandle(wait_event);
        wait_event = nullptr;
        WaitForThreadpoolWorkCallbacks(work, FALSE);
        CloseThreadpoolWork(work);
    }
    if (flaw == defect::commits_in_thread && memory_taker != nullptr) {
        // The check's frames may end before the thread has taken more than
        // the validator allows a check (1 GiB at most): the thread goes on
        // until it has, and the validator ends the process meanwhile.
        for (int waited = 0; waited < 30000 && memory_taken < (1152u << 20); waited += 10) Sleep(10);
        Sleep(30000);
        stop_taking = true;
        WaitForSingleObject(memory_taker, INFINITE);
        CloseHandle(memory_taker);
        memory_taker = nullptr;
    }
    if (flaw != defect::tidy_registrations) return;
    UnregisterClassA(plugin_class, GetModuleHandleA(nullptr));
    RemoveVectoredExceptionHandler(handler);
    KillTimer(nullptr, timer);
}

bool start()
{
    if (worker != nullptr) return true;  // already running
    change_state_in_init();
    log_line("Init");
    if (flaw == defect::throws_in_init) throw std::runtime_error("no configuration file");
    if (flaw == defect::slow_init) Sleep(1500);
    if (flaw == defect::window_left) {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = DefWindowProcA;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "test_plugin_window";
        RegisterClassA(&window_class);
        window = CreateWindowA("test_plugin_window", "test plug-in", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                               nullptr, window_class.hInstance, nullptr);
    }
    HMODULE library = nullptr;
    if (flaw != defect::thread_running_at_unload) {
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<const char*>(&worker_main),
                           &library);
    }
    open_blocking_work();
    stop_worker = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    worker = CreateThread(nullptr, 0, worker_main, library, 0, nullptr);
    if (worker == nullptr && library != nullptr) FreeLibrary(library);
    return worker != nullptr;
}

void stop()
{
    if (worker == nullptr) return;
    if (flaw == defect::terminate_process) TerminateProcess(GetCurrentProcess(), 9);
    undo_state_in_shutdown();
    log_line("Shutdown");
    if (flaw == defect::thread_left) return;
    if (flaw == defect::hang_in_shutdown) {
        WaitForSingleObject(worker, INFINITE);  // nobody told it to stop
    }
    SetEvent(stop_worker);
    if (flaw != defect::thread_running_at_unload && flaw != defect::lets_go_late) WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    CloseHandle(stop_worker);
    worker = stop_worker = nullptr;
    close_blocking_work();
}

// The frame's records, kept until the next Update, as a real plug-in keeps
// them for its display.
struct record_bytes {
    std::uint8_t bytes[128];
};
std::vector<record_bytes> frame_list;

// Reads the messages within their Sizes: a header, then Size - 64 value
// bytes of which at most 64 are kept.
void read_frame(const std::uint8_t* stream, std::uint32_t count)
{
    std::size_t position = 0;
    double sum = 0.0;
    frame_list.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        record_bytes kept = {};
        std::uint8_t* record = kept.bytes;
        const std::uint8_t* message = stream + position;
        const std::uint16_t size = static_cast<std::uint16_t>(message[2] | message[3] << 8);
        const std::size_t extent = size < 64 ? 64 : size;
        if (flaw == defect::reads_past_stream) {
            std::memcpy(record, message, sizeof kept.bytes);
        } else {
            std::memcpy(record, message, 64);
            std::memcpy(record + 64, message + 64, extent - 64 < 64 ? extent - 64 : 64);
        }
        if (record[25] == 2) {  // Double
            double value;
            std::memcpy(&value, record + 64, sizeof value);
            sum += value;
        }
        if (flaw == defect::writes_into_stream) {
            if (record[25] == 7 && size > 64) const_cast<std::uint8_t*>(message)[size - 1] = 0;
        }
        frame_list.push_back(kept);
        position += extent;
    }
    if (sum != sum) last_error = "a value is not a number";
}

// Recurses until the stack runs out long before the depth's bound; the
// volatile array keeps each frame.
int recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth > 1000000000) return frame[0];
    return recurse(depth + 1) + frame[0];
}

const std::uint8_t* kept_stream_pointer = nullptr;  // the last frame's stream, for kept_stream

// Computes with flush-to-zero and truncation, then puts the caller's
// settings back, as a legal plug-in may.
double computed_aside(double value)
{
    const unsigned int mxcsr = _mm_getcsr();
    unsigned int x87 = 0;
    _controlfp_s(&x87, 0, 0);
    _mm_setcsr(mxcsr | 0x8040);
    unsigned int ignored = 0;
    _controlfp_s(&ignored, _RC_CHOP, _MCW_RC);
    const double result = value * 1e-300 * 1e-10;
    _controlfp_s(&ignored, x87, _MCW_RC | _MCW_PC | _MCW_EM);
    _mm_setcsr(mxcsr);
    return result;
}

void state_in_update(std::uint64_t frame)
{
    if (flaw == defect::stack_overflow)
        if (frame == 10) recurse(0);
    if (flaw == defect::abort_in_update)
        if (frame == 20) std::abort();
    if (flaw == defect::exit_process)
        if (frame == 5) ExitProcess(7);
    if (flaw == defect::mxcsr_in_update) _mm_setcsr(_mm_getcsr() | 0x8040);
    if (flaw == defect::x87_in_update) {
        unsigned int ignored = 0;
        _controlfp_s(&ignored, _RC_CHOP, _MCW_RC);
    }
    if (flaw == defect::priority_in_update) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    if (flaw == defect::fp_restored) computed = computed_aside(static_cast<double>(frame));
    if (flaw == defect::tidy_registrations) {
        try {
            if (frame % 2 == 0) throw std::runtime_error("caught at once");
        } catch (const std::exception&) {
        }
    }
    if (flaw == defect::writes_files)
        if (frame % 100 == 1) log_line("Update");
}

void update(const std::uint8_t* stream, std::uint32_t count, std::int32_t* output1, std::int32_t* output2)
{
    const std::uint64_t frame = ++frames;
    state_in_update(frame);
    if (flaw == defect::kept_stream) {
        // "Compares" with the last frame through the pointer it kept.
        if (kept_stream_pointer != nullptr) read_back = kept_stream_pointer[0];
        kept_stream_pointer = count > 0 ? stream : nullptr;
    }
    if (flaw == defect::crash_in_update) {
        static int* volatile nowhere = nullptr;
        if (frame == 30) {
            log_line("about to crash");
            *nowhere = 1;
        }
    }
    if (flaw == defect::handle_per_frame) CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (flaw == defect::socket_per_frame) socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (flaw == defect::memory_per_frame) {
        // A copy of the frame's first bytes, kept for "later" and never freed:
        // 256 bytes, which the check sees above its noise (256 KiB a half) in
        // the 2351 frames a half it measured when a busy machine's frames took
        // 4.25 ms (64 bytes needed 8000 frames, 3 ms at most).
        static std::uint8_t* volatile kept = nullptr;
        kept = new std::uint8_t[256];
        if (stream != nullptr && count > 0) std::memcpy(kept, stream, 64);
    }
    if (flaw == defect::update_stutter) {
        if (frame % 20 == 0) Sleep(25);
    }
    if (flaw == defect::leaks_fast) take_memory(1u << 20);
    if (flaw == defect::allocates_until_failure) {
        // The validator sees the memory at its own pace (every 50 ms): the
        // pause keeps the host's thread in Update when it does, as the time
        // spent filling the memory does on a quiet machine.
        take_memory(64u << 20);
        Sleep(150);
    }
    if (flaw == defect::thread_pool_tidy && wait_event != nullptr) SetEvent(wait_event);
    if (count > 0 && stream != nullptr) read_frame(stream, count);
    if (flaw == defect::wrong_getter && frame == 12) {
        // Takes the first value that is not a Double for one.
        for (const record_bytes& record : frame_list) {
            tm_external_message message;
            std::memcpy(&message, record.bytes, sizeof message);
            if (message.Header.DataType == tm_msg_data_type::Double) continue;
            computed = message.GetDouble();
            break;
        }
    }
    blocking_work(frame);
    if (flaw == defect::outputs_untouched) return;
    if (flaw == defect::outputs_too_wide) {
        // Taken for 64-bit integers.
        const std::int64_t zero = 0;
        std::memcpy(output1, &zero, sizeof zero);
        std::memcpy(output2, &zero, sizeof zero);
        return;
    }
    *output1 = 0;
    *output2 = 0;
}

}  // namespace

// The loader-lock defects; otherwise nothing to do.
HANDLE detach_worker = nullptr;
HANDLE detach_stop = nullptr;
DWORD WINAPI detach_worker_main(void*)
{
    WaitForSingleObject(detach_stop, INFINITE);
    return 0;  // ending needs the loader lock, which DllMain holds while it waits below
}

BOOL WINAPI DllMain(HINSTANCE library, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) flaw = defect_of(library);
    if (flaw == defect::crash_at_attach && reason == DLL_PROCESS_ATTACH) {
        static int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    if (flaw == defect::hang_at_attach) {
        if (reason == DLL_PROCESS_ATTACH) {
            const HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            WaitForSingleObject(never, INFINITE);
        }
    }
    if (flaw == defect::deadlock_at_detach) {
        if (reason == DLL_PROCESS_ATTACH) {
            detach_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            detach_worker = CreateThread(nullptr, 0, detach_worker_main, nullptr, 0, nullptr);
        }
        if (reason == DLL_PROCESS_DETACH && detach_worker != nullptr) {
            SetEvent(detach_stop);
            WaitForSingleObject(detach_worker, INFINITE);
        }
    }
    return TRUE;
}

#define TEST_PLUGIN_EXPORT extern "C" __declspec(dllexport)

TEST_PLUGIN_EXPORT std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return flaw == defect::wrong_version ? 1 : plugin_interface::version;
}

TEST_PLUGIN_EXPORT bool Skarvel_External_DLL_Init(void*)
{
    if (flaw == defect::throws_in_init) return start();  // the exception goes to the host
    try {
        return start();
    } catch (...) {
        return false;
    }
}

TEST_PLUGIN_EXPORT void Skarvel_External_DLL_Update(double, const std::uint8_t* stream, std::int32_t,
                                                    std::uint32_t count, void*, std::int32_t* output1,
                                                    std::int32_t* output2) noexcept
{
    update(stream, count, output1, output2);
}

// (The preprocessor, not the defect's name, decides what is exported.)
#if !defined(TEST_PLUGIN_MISSING_EXPORT)
TEST_PLUGIN_EXPORT
#endif
void Skarvel_External_DLL_Shutdown() noexcept
{
    stop();
}
