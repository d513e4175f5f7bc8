#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include "tools/validate/win32/blocking_calls.h"

#include <cstdarg>
#include <cstdio>
#include <type_traits>

#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/child_state.h"

namespace validate {

namespace {

// ---- The counts ----

// Every function counted, by its index in this list.
constexpr const char* counted_names[] = {
    // File input and output.
    "WriteFile", "FlushFileBuffers", "ReadFile", "CreateFileA", "CreateFileW", "fopen", "_wfopen", "fclose", "fwrite",
    "fputs", "fputc", "puts", "fprintf", "printf", "vfprintf", "vprintf", "__stdio_common_vfprintf", "fflush", "fread",
    "fgets", "_write", "write", "_read", "read", "_commit",
    // Sleeps.
    "Sleep", "SleepEx",
    // Waits on objects and locks.
    "WaitForSingleObject", "WaitForSingleObjectEx", "WaitForMultipleObjects", "WaitForMultipleObjectsEx",
    "MsgWaitForMultipleObjects", "MsgWaitForMultipleObjectsEx", "SignalObjectAndWait", "EnterCriticalSection",
    "AcquireSRWLockExclusive", "AcquireSRWLockShared", "SleepConditionVariableCS", "SleepConditionVariableSRW",
    "WSAWaitForMultipleEvents",
    // Sockets.
    "recv", "recvfrom", "WSARecv", "WSARecvFrom", "accept", "WSAAccept", "connect", "WSAConnect", "send", "WSASend",
    "select", "WSAPoll", "gethostbyname", "getaddrinfo", "GetAddrInfoW"};
constexpr int name_count = static_cast<int>(sizeof counted_names / sizeof counted_names[0]);

constexpr int index_of(const char* name) noexcept
{
    for (int i = 0; i < name_count; ++i) {
        const char* a = counted_names[i];
        const char* b = name;
        while (*a != '\0' && *a == *b) ++a, ++b;
        if (*a == *b) return i;
    }
    return -1;
}

static_assert(name_count == blocking_call_table::functions, "a count for every function counted");

blocking_call_table& table() noexcept
{
    return the_child().blocking_calls;
}

// A call counts only when the plug-in makes it on the host's thread while
// the host is in its Update.
bool in_update() noexcept
{
    return current_call() == plugin_call::update && is_host_thread();
}

void count_at(int index) noexcept
{
    blocking_call_table& counts = table();
    InterlockedIncrement64(&counts.calls[index]);
    const auto frame = static_cast<LONG64>(current_frame());
    if (InterlockedExchange64(&counts.last_frame_counted, frame) != frame)
        InterlockedIncrement64(&counts.updates_with_calls);
}

template <int Index>
void count() noexcept
{
    static_assert(Index >= 0, "a function counted is in the list of names");
    count_at(Index);
}

LONG64 ticks() noexcept
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONG64 ticks_per_second() noexcept
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// A wait counts when it held the host's frame a millisecond or more: a
// lock freed, or an object signalled, a moment later is not worth a word.
template <int Index>
void count_if_waited(LONG64 started) noexcept
{
    const LONG64 took = ticks() - started;
    if (took * 1000 < ticks_per_second()) return;
    InterlockedAdd64(&table().waited_ticks, took);
    count<Index>();
}

// ---- Hooks that call the function they replace ----

// Counts every call the plug-in makes during Update.
template <int Index, class Function>
struct counted;
template <int Index, class R, class... A>
struct counted<Index, R (*)(A...)> {
    static inline void* original = nullptr;
    static R call(A... arguments)
    {
        if (in_update()) count<Index>();
        return reinterpret_cast<R (*)(A...)>(original)(arguments...);
    }
};

// The real call, counted when it waited a millisecond or more.
template <int Index, class Call>
auto timed(Call call)
{
    const LONG64 started = ticks();
    if constexpr (std::is_void_v<decltype(call())>) {
        call();
        count_if_waited<Index>(started);
    } else {
        const auto result = call();
        count_if_waited<Index>(started);
        return result;
    }
}

// The functions' types, as the plug-in calls them (x64 has one calling
// convention: WINAPI and __cdecl are the same).
using write_file = BOOL (*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using flush_file = BOOL (*)(HANDLE);
using read_file = BOOL (*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using create_file_a = HANDLE (*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using create_file_w = HANDLE (*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using fopen_type = FILE* (*)(const char*, const char*);
using wfopen_type = FILE* (*)(const wchar_t*, const wchar_t*);
using fclose_type = int (*)(FILE*);
using fwrite_type = size_t (*)(const void*, size_t, size_t, FILE*);
using fputs_type = int (*)(const char*, FILE*);
using fputc_type = int (*)(int, FILE*);
using puts_type = int (*)(const char*);
// A va_list is passed on as it came: on x64 Windows it is a char*.
using vfprintf_type = int (*)(FILE*, const char*, char*);
using vprintf_type = int (*)(const char*, char*);
using common_vfprintf = int (*)(unsigned long long, FILE*, const char*, _locale_t, char*);
using fflush_type = int (*)(FILE*);
using fread_type = size_t (*)(void*, size_t, size_t, FILE*);
using fgets_type = char* (*)(char*, int, FILE*);
using write_type = int (*)(int, const void*, unsigned int);
using read_type = int (*)(int, void*, unsigned int);
using commit_type = int (*)(int);
using wait_one = DWORD (*)(HANDLE, DWORD);
using wait_one_ex = DWORD (*)(HANDLE, DWORD, BOOL);
using wait_many = DWORD (*)(DWORD, const HANDLE*, BOOL, DWORD);
using wait_many_ex = DWORD (*)(DWORD, const HANDLE*, BOOL, DWORD, BOOL);
using message_wait = DWORD (*)(DWORD, const HANDLE*, BOOL, DWORD, DWORD);
using message_wait_ex = DWORD (*)(DWORD, const HANDLE*, DWORD, DWORD, DWORD);
using signal_and_wait = DWORD (*)(HANDLE, HANDLE, DWORD, BOOL);
using enter_section = void (*)(LPCRITICAL_SECTION);
using acquire_lock = void (*)(PSRWLOCK);
using condition_cs = BOOL (*)(PCONDITION_VARIABLE, PCRITICAL_SECTION, DWORD);
using condition_srw = BOOL (*)(PCONDITION_VARIABLE, PSRWLOCK, DWORD, ULONG);
using wsa_wait = DWORD (*)(DWORD, const WSAEVENT*, BOOL, DWORD, BOOL);

#define COUNTED(name, type) counted<index_of(#name), type>

// ---- Waits and locks: those that had to wait, and did for 1 ms or more ----

// A zero timeout only polls. Otherwise the object is tried first with the
// function's own zero timeout (or the lock with its try form): one already
// signalled, or a lock that is free, costs the frame nothing, however long
// the system took to say so. The alertable forms are not tried first, as an
// alertable wait also runs the thread's queued callbacks; nor are the waits
// for messages, whose trying would mark the waiting messages as seen.
void* wait_one_original = nullptr;
void* wait_one_ex_original = nullptr;
void* wait_many_original = nullptr;
void* wait_many_ex_original = nullptr;
void* message_wait_original = nullptr;
void* message_wait_ex_original = nullptr;
void* signal_and_wait_original = nullptr;
void* enter_section_original = nullptr;
void* acquire_exclusive_original = nullptr;
void* acquire_shared_original = nullptr;
void* condition_cs_original = nullptr;
void* condition_srw_original = nullptr;
void* wsa_wait_original = nullptr;

bool signalled(DWORD result) noexcept
{
    return result != WAIT_TIMEOUT;  // the object's, an abandoned mutex's, or a failure that the wait would give too
}

DWORD hooked_wait_one(HANDLE object, DWORD milliseconds)
{
    const auto wait = reinterpret_cast<wait_one>(wait_one_original);
    if (milliseconds == 0 || !in_update()) return wait(object, milliseconds);
    if (const DWORD now = wait(object, 0); signalled(now)) return now;
    return timed<index_of("WaitForSingleObject")>([&] { return wait(object, milliseconds); });
}

DWORD hooked_wait_one_ex(HANDLE object, DWORD milliseconds, BOOL alertable)
{
    const auto wait = reinterpret_cast<wait_one_ex>(wait_one_ex_original);
    if (milliseconds == 0 || !in_update()) return wait(object, milliseconds, alertable);
    if (!alertable)
        if (const DWORD now = wait(object, 0, FALSE); signalled(now)) return now;
    return timed<index_of("WaitForSingleObjectEx")>([&] { return wait(object, milliseconds, alertable); });
}

DWORD hooked_wait_many(DWORD count_of, const HANDLE* objects, BOOL all, DWORD milliseconds)
{
    const auto wait = reinterpret_cast<wait_many>(wait_many_original);
    if (milliseconds == 0 || !in_update()) return wait(count_of, objects, all, milliseconds);
    if (const DWORD now = wait(count_of, objects, all, 0); signalled(now)) return now;
    return timed<index_of("WaitForMultipleObjects")>([&] { return wait(count_of, objects, all, milliseconds); });
}

DWORD hooked_wait_many_ex(DWORD count_of, const HANDLE* objects, BOOL all, DWORD milliseconds, BOOL alertable)
{
    const auto wait = reinterpret_cast<wait_many_ex>(wait_many_ex_original);
    if (milliseconds == 0 || !in_update()) return wait(count_of, objects, all, milliseconds, alertable);
    if (!alertable)
        if (const DWORD now = wait(count_of, objects, all, 0, FALSE); signalled(now)) return now;
    return timed<index_of("WaitForMultipleObjectsEx")>(
        [&] { return wait(count_of, objects, all, milliseconds, alertable); });
}

DWORD hooked_message_wait(DWORD count_of, const HANDLE* objects, BOOL all, DWORD milliseconds, DWORD wake)
{
    const auto wait = reinterpret_cast<message_wait>(message_wait_original);
    if (milliseconds == 0 || !in_update()) return wait(count_of, objects, all, milliseconds, wake);
    return timed<index_of("MsgWaitForMultipleObjects")>(
        [&] { return wait(count_of, objects, all, milliseconds, wake); });
}

DWORD hooked_message_wait_ex(DWORD count_of, const HANDLE* objects, DWORD milliseconds, DWORD wake, DWORD flags)
{
    const auto wait = reinterpret_cast<message_wait_ex>(message_wait_ex_original);
    if (milliseconds == 0 || !in_update()) return wait(count_of, objects, milliseconds, wake, flags);
    return timed<index_of("MsgWaitForMultipleObjectsEx")>(
        [&] { return wait(count_of, objects, milliseconds, wake, flags); });
}

DWORD hooked_signal_and_wait(HANDLE signal, HANDLE object, DWORD milliseconds, BOOL alertable)
{
    const auto wait = reinterpret_cast<signal_and_wait>(signal_and_wait_original);
    if (milliseconds == 0 || !in_update()) return wait(signal, object, milliseconds, alertable);
    return timed<index_of("SignalObjectAndWait")>([&] { return wait(signal, object, milliseconds, alertable); });
}

void hooked_enter_section(LPCRITICAL_SECTION section)
{
    const auto enter = reinterpret_cast<enter_section>(enter_section_original);
    if (!in_update()) return enter(section);
    if (TryEnterCriticalSection(section)) return;
    timed<index_of("EnterCriticalSection")>([&] { enter(section); });
}

void hooked_acquire_exclusive(PSRWLOCK lock)
{
    const auto acquire = reinterpret_cast<acquire_lock>(acquire_exclusive_original);
    if (!in_update()) return acquire(lock);
    if (TryAcquireSRWLockExclusive(lock)) return;
    timed<index_of("AcquireSRWLockExclusive")>([&] { acquire(lock); });
}

void hooked_acquire_shared(PSRWLOCK lock)
{
    const auto acquire = reinterpret_cast<acquire_lock>(acquire_shared_original);
    if (!in_update()) return acquire(lock);
    if (TryAcquireSRWLockShared(lock)) return;
    timed<index_of("AcquireSRWLockShared")>([&] { acquire(lock); });
}

BOOL hooked_condition_cs(PCONDITION_VARIABLE condition, PCRITICAL_SECTION section, DWORD milliseconds)
{
    const auto sleep = reinterpret_cast<condition_cs>(condition_cs_original);
    if (milliseconds == 0 || !in_update()) return sleep(condition, section, milliseconds);
    return timed<index_of("SleepConditionVariableCS")>([&] { return sleep(condition, section, milliseconds); });
}

BOOL hooked_condition_srw(PCONDITION_VARIABLE condition, PSRWLOCK lock, DWORD milliseconds, ULONG flags)
{
    const auto sleep = reinterpret_cast<condition_srw>(condition_srw_original);
    if (milliseconds == 0 || !in_update()) return sleep(condition, lock, milliseconds, flags);
    return timed<index_of("SleepConditionVariableSRW")>([&] { return sleep(condition, lock, milliseconds, flags); });
}

DWORD hooked_wsa_wait(DWORD count_of, const WSAEVENT* events, BOOL all, DWORD milliseconds, BOOL alertable)
{
    const auto wait = reinterpret_cast<wsa_wait>(wsa_wait_original);
    if (milliseconds == 0 || !in_update()) return wait(count_of, events, all, milliseconds, alertable);
    if (!alertable)
        if (const DWORD now = wait(count_of, events, all, 0, FALSE); now != WSA_WAIT_TIMEOUT) return now;
    return timed<index_of("WSAWaitForMultipleEvents")>(
        [&] { return wait(count_of, events, all, milliseconds, alertable); });
}

// fprintf and printf take a variable number of arguments: their hooks call
// the runtime's own vfprintf and vprintf.
void* fprintf_original = nullptr;
void* fprintf_twin = nullptr;
void* printf_original = nullptr;
void* printf_twin = nullptr;

int hooked_fprintf(FILE* file, const char* format, ...)
{
    if (in_update()) count<index_of("fprintf")>();
    va_list arguments;
    va_start(arguments, format);
    const int written = reinterpret_cast<vfprintf_type>(fprintf_twin)(file, format, arguments);
    va_end(arguments);
    return written;
}

int hooked_printf(const char* format, ...)
{
    if (in_update()) count<index_of("printf")>();
    va_list arguments;
    va_start(arguments, format);
    const int written = reinterpret_cast<vprintf_type>(printf_twin)(format, arguments);
    va_end(arguments);
    return written;
}

// ---- Sleeps: every one of a millisecond or more ----

void* sleep_original = nullptr;
void* sleep_ex_original = nullptr;

void hooked_sleep(DWORD milliseconds)
{
    const auto function = reinterpret_cast<void (*)(DWORD)>(sleep_original);
    if (milliseconds == 0 || !in_update()) return function(milliseconds);
    const LONG64 started = ticks();
    function(milliseconds);
    InterlockedAdd64(&table().waited_ticks, ticks() - started);
    count<index_of("Sleep")>();
}

DWORD hooked_sleep_ex(DWORD milliseconds, BOOL alertable)
{
    const auto function = reinterpret_cast<DWORD (*)(DWORD, BOOL)>(sleep_ex_original);
    if (milliseconds == 0 || !in_update()) return function(milliseconds, alertable);
    const LONG64 started = ticks();
    const DWORD result = function(milliseconds, alertable);
    InterlockedAdd64(&table().waited_ticks, ticks() - started);
    count<index_of("SleepEx")>();
    return result;
}

// ---- Sockets ----

// The sockets the plug-in made non-blocking (FIONBIO, WSAEventSelect,
// WSAAsyncSelect), until it closes them. Should more be open than the table
// holds, no socket call counts: it can no longer be told which block.
void mark_nonblocking(SOCKET s, bool on) noexcept
{
    blocking_call_table& sockets = table();
    const auto value = static_cast<LONG64>(s);
    for (volatile LONG64& slot : sockets.nonblocking_sockets)
        if (slot == value) {
            if (!on) InterlockedCompareExchange64(&slot, 0, value);
            return;
        }
    if (!on) return;
    for (volatile LONG64& slot : sockets.nonblocking_sockets)
        if (InterlockedCompareExchange64(&slot, value, 0) == 0) return;
    InterlockedExchange(&sockets.sockets_untracked, 1);
}

// A blocking socket, as far as can be told.
bool blocking(SOCKET s) noexcept
{
    const blocking_call_table& sockets = table();
    if (sockets.sockets_untracked) return false;
    for (const volatile LONG64& slot : sockets.nonblocking_sockets)
        if (slot == static_cast<LONG64>(s)) return false;
    return true;
}

bool stream(SOCKET s) noexcept
{
    int type = 0;
    int length = sizeof type;
    return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0 && type == SOCK_STREAM;
}

// The functions that say whether a socket blocks.
void* ioctlsocket_original = nullptr;
void* event_select_original = nullptr;
void* async_select_original = nullptr;
void* closesocket_original = nullptr;

int hooked_ioctlsocket(SOCKET s, long command, u_long* argument)
{
    const int result = reinterpret_cast<int (*)(SOCKET, long, u_long*)>(ioctlsocket_original)(s, command, argument);
    if (result == 0 && command == static_cast<long>(FIONBIO) && argument != nullptr)
        mark_nonblocking(s, *argument != 0);
    return result;
}

int hooked_event_select(SOCKET s, WSAEVENT event, long events)
{
    const int result = reinterpret_cast<int (*)(SOCKET, WSAEVENT, long)>(event_select_original)(s, event, events);
    if (result == 0) mark_nonblocking(s, true);
    return result;
}

int hooked_async_select(SOCKET s, HWND window, u_int message, long events)
{
    const int result =
        reinterpret_cast<int (*)(SOCKET, HWND, u_int, long)>(async_select_original)(s, window, message, events);
    if (result == 0) mark_nonblocking(s, true);
    return result;
}

int hooked_closesocket(SOCKET s)
{
    mark_nonblocking(s, false);
    return reinterpret_cast<int (*)(SOCKET)>(closesocket_original)(s);
}

// A socket call that waits unless its socket is non-blocking (receiving and
// accepting), or unless it is also not a stream (connecting and sending:
// for a datagram socket they return at once).
template <int Index, bool StreamOnly, class Function>
struct on_socket;
template <int Index, bool StreamOnly, class R, class... A>
struct on_socket<Index, StreamOnly, R (*)(SOCKET, A...)> {
    static inline void* original = nullptr;
    static R call(SOCKET s, A... arguments)
    {
        if (in_update() && blocking(s) && (!StreamOnly || stream(s))) count<Index>();
        return reinterpret_cast<R (*)(SOCKET, A...)>(original)(s, arguments...);
    }
};

// The overlapped forms wait only without an OVERLAPPED.
using wsa_recv = int (*)(SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, LPWSAOVERLAPPED,
                         LPWSAOVERLAPPED_COMPLETION_ROUTINE);
using wsa_recv_from = int (*)(SOCKET, LPWSABUF, DWORD, LPDWORD, LPDWORD, sockaddr*, LPINT, LPWSAOVERLAPPED,
                              LPWSAOVERLAPPED_COMPLETION_ROUTINE);
using wsa_send = int (*)(SOCKET, LPWSABUF, DWORD, LPDWORD, DWORD, LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE);
void* wsa_recv_original = nullptr;
void* wsa_recv_from_original = nullptr;
void* wsa_send_original = nullptr;

int hooked_wsa_recv(SOCKET s, LPWSABUF buffers, DWORD count_of, LPDWORD received, LPDWORD flags,
                    LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE done)
{
    if (overlapped == nullptr && in_update() && blocking(s)) count<index_of("WSARecv")>();
    return reinterpret_cast<wsa_recv>(wsa_recv_original)(s, buffers, count_of, received, flags, overlapped, done);
}

int hooked_wsa_recv_from(SOCKET s, LPWSABUF buffers, DWORD count_of, LPDWORD received, LPDWORD flags, sockaddr* from,
                         LPINT from_length, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE done)
{
    if (overlapped == nullptr && in_update() && blocking(s)) count<index_of("WSARecvFrom")>();
    return reinterpret_cast<wsa_recv_from>(wsa_recv_from_original)(s, buffers, count_of, received, flags, from,
                                                                   from_length, overlapped, done);
}

int hooked_wsa_send(SOCKET s, LPWSABUF buffers, DWORD count_of, LPDWORD sent, DWORD flags, LPWSAOVERLAPPED overlapped,
                    LPWSAOVERLAPPED_COMPLETION_ROUTINE done)
{
    if (overlapped == nullptr && in_update() && blocking(s) && stream(s)) count<index_of("WSASend")>();
    return reinterpret_cast<wsa_send>(wsa_send_original)(s, buffers, count_of, sent, flags, overlapped, done);
}

// select and WSAPoll wait unless their timeout is zero.
void* select_original = nullptr;
void* poll_original = nullptr;

int hooked_select(int count_of, fd_set* read, fd_set* write, fd_set* except, const timeval* timeout)
{
    const bool waits = timeout == nullptr || timeout->tv_sec != 0 || timeout->tv_usec != 0;
    if (waits && in_update()) count<index_of("select")>();
    return reinterpret_cast<int (*)(int, fd_set*, fd_set*, fd_set*, const timeval*)>(select_original)(
        count_of, read, write, except, timeout);
}

int hooked_poll(WSAPOLLFD* sockets, ULONG count_of, INT timeout)
{
    if (in_update() && timeout != 0) count<index_of("WSAPoll")>();
    return reinterpret_cast<int (*)(WSAPOLLFD*, ULONG, INT)>(poll_original)(sockets, count_of, timeout);
}

// A name lookup asks the network unless the name is a numeric address:
// dotted digits (IPv4), or holding a colon (IPv6: no host name has one).
template <class Char>
bool numeric_address(const Char* name) noexcept
{
    if (name == nullptr || *name == 0) return true;
    bool dotted_digits = true;
    for (const Char* c = name; *c != 0; ++c) {
        if (*c == ':') return true;
        dotted_digits = dotted_digits && ((*c >= '0' && *c <= '9') || *c == '.');
    }
    return dotted_digits;
}

void* gethostbyname_original = nullptr;
void* getaddrinfo_original = nullptr;
void* getaddrinfo_w_original = nullptr;

hostent* hooked_gethostbyname(const char* name)
{
    if (in_update() && !numeric_address(name)) count<index_of("gethostbyname")>();
    return reinterpret_cast<hostent* (*)(const char*)>(gethostbyname_original)(name);
}

int hooked_getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** found)
{
    const bool numeric_only = hints != nullptr && (hints->ai_flags & AI_NUMERICHOST) != 0;
    if (in_update() && !numeric_only && !numeric_address(node)) count<index_of("getaddrinfo")>();
    return reinterpret_cast<int (*)(const char*, const char*, const addrinfo*, addrinfo**)>(getaddrinfo_original)(
        node, service, hints, found);
}

int hooked_getaddrinfo_w(const wchar_t* node, const wchar_t* service, const ADDRINFOW* hints, ADDRINFOW** found)
{
    const bool numeric_only = hints != nullptr && (hints->ai_flags & AI_NUMERICHOST) != 0;
    if (in_update() && !numeric_only && !numeric_address(node)) count<index_of("GetAddrInfoW")>();
    return reinterpret_cast<int (*)(const wchar_t*, const wchar_t*, const ADDRINFOW*, ADDRINFOW**)>(
        getaddrinfo_w_original)(node, service, hints, found);
}

using recv_type = int (*)(SOCKET, char*, int, int);
using recv_from_type = int (*)(SOCKET, char*, int, int, sockaddr*, int*);
using accept_type = SOCKET (*)(SOCKET, sockaddr*, int*);
using wsa_accept_type = SOCKET (*)(SOCKET, sockaddr*, LPINT, LPCONDITIONPROC, DWORD_PTR);
using connect_type = int (*)(SOCKET, const sockaddr*, int);
using wsa_connect_type = int (*)(SOCKET, const sockaddr*, int, LPWSABUF, LPWSABUF, LPQOS, LPQOS);
using send_type = int (*)(SOCKET, const char*, int, int);

template <class Hook>
import_hook hook_of(const char* name)
{
    return {name, reinterpret_cast<void*>(&Hook::call), &Hook::original};
}

template <class Function>
import_hook hook_of(const char* name, Function replacement, void** original)
{
    return {name, reinterpret_cast<void*>(replacement), original};
}

const import_hook blocking_hooks[] = {
    hook_of<COUNTED(WriteFile, write_file)>("WriteFile"),
    hook_of<COUNTED(FlushFileBuffers, flush_file)>("FlushFileBuffers"),
    hook_of<COUNTED(ReadFile, read_file)>("ReadFile"),
    hook_of<COUNTED(CreateFileA, create_file_a)>("CreateFileA"),
    hook_of<COUNTED(CreateFileW, create_file_w)>("CreateFileW"),
    hook_of<COUNTED(fopen, fopen_type)>("fopen"),
    hook_of<COUNTED(_wfopen, wfopen_type)>("_wfopen"),
    hook_of<COUNTED(fclose, fclose_type)>("fclose"),
    hook_of<COUNTED(fwrite, fwrite_type)>("fwrite"),
    hook_of<COUNTED(fputs, fputs_type)>("fputs"),
    hook_of<COUNTED(fputc, fputc_type)>("fputc"),
    hook_of<COUNTED(puts, puts_type)>("puts"),
    {"fprintf", reinterpret_cast<void*>(&hooked_fprintf), &fprintf_original, "vfprintf", &fprintf_twin},
    {"printf", reinterpret_cast<void*>(&hooked_printf), &printf_original, "vprintf", &printf_twin},
    hook_of<COUNTED(vfprintf, vfprintf_type)>("vfprintf"),
    hook_of<COUNTED(vprintf, vprintf_type)>("vprintf"),
    hook_of<COUNTED(__stdio_common_vfprintf, common_vfprintf)>("__stdio_common_vfprintf"),
    hook_of<COUNTED(fflush, fflush_type)>("fflush"),
    hook_of<COUNTED(fread, fread_type)>("fread"),
    hook_of<COUNTED(fgets, fgets_type)>("fgets"),
    hook_of<COUNTED(_write, write_type)>("_write"),
    hook_of<COUNTED(write, write_type)>("write"),
    hook_of<COUNTED(_read, read_type)>("_read"),
    hook_of<COUNTED(read, read_type)>("read"),
    hook_of<COUNTED(_commit, commit_type)>("_commit"),
    hook_of("Sleep", &hooked_sleep, &sleep_original),
    hook_of("SleepEx", &hooked_sleep_ex, &sleep_ex_original),
    hook_of("WaitForSingleObject", &hooked_wait_one, &wait_one_original),
    hook_of("WaitForSingleObjectEx", &hooked_wait_one_ex, &wait_one_ex_original),
    hook_of("WaitForMultipleObjects", &hooked_wait_many, &wait_many_original),
    hook_of("WaitForMultipleObjectsEx", &hooked_wait_many_ex, &wait_many_ex_original),
    hook_of("MsgWaitForMultipleObjects", &hooked_message_wait, &message_wait_original),
    hook_of("MsgWaitForMultipleObjectsEx", &hooked_message_wait_ex, &message_wait_ex_original),
    hook_of("SignalObjectAndWait", &hooked_signal_and_wait, &signal_and_wait_original),
    hook_of("EnterCriticalSection", &hooked_enter_section, &enter_section_original),
    hook_of("AcquireSRWLockExclusive", &hooked_acquire_exclusive, &acquire_exclusive_original),
    hook_of("AcquireSRWLockShared", &hooked_acquire_shared, &acquire_shared_original),
    hook_of("SleepConditionVariableCS", &hooked_condition_cs, &condition_cs_original),
    hook_of("SleepConditionVariableSRW", &hooked_condition_srw, &condition_srw_original),
    hook_of("WSAWaitForMultipleEvents", &hooked_wsa_wait, &wsa_wait_original),
    hook_of<on_socket<index_of("recv"), false, recv_type>>("recv"),
    hook_of<on_socket<index_of("recvfrom"), false, recv_from_type>>("recvfrom"),
    hook_of("WSARecv", &hooked_wsa_recv, &wsa_recv_original),
    hook_of("WSARecvFrom", &hooked_wsa_recv_from, &wsa_recv_from_original),
    hook_of<on_socket<index_of("accept"), false, accept_type>>("accept"),
    hook_of<on_socket<index_of("WSAAccept"), false, wsa_accept_type>>("WSAAccept"),
    hook_of<on_socket<index_of("connect"), true, connect_type>>("connect"),
    hook_of<on_socket<index_of("WSAConnect"), true, wsa_connect_type>>("WSAConnect"),
    hook_of<on_socket<index_of("send"), true, send_type>>("send"),
    hook_of("WSASend", &hooked_wsa_send, &wsa_send_original),
    hook_of("select", &hooked_select, &select_original),
    hook_of("WSAPoll", &hooked_poll, &poll_original),
    hook_of("gethostbyname", &hooked_gethostbyname, &gethostbyname_original),
    hook_of("getaddrinfo", &hooked_getaddrinfo, &getaddrinfo_original),
    hook_of("GetAddrInfoW", &hooked_getaddrinfo_w, &getaddrinfo_w_original),
    // Not counted: what says whether a socket blocks.
    hook_of("ioctlsocket", &hooked_ioctlsocket, &ioctlsocket_original),
    hook_of("WSAEventSelect", &hooked_event_select, &event_select_original),
    hook_of("WSAAsyncSelect", &hooked_async_select, &async_select_original),
    hook_of("closesocket", &hooked_closesocket, &closesocket_original),
};

#undef COUNTED

}  // namespace

const import_hook* blocking_call_hooks(std::size_t& count) noexcept
{
    count = sizeof blocking_hooks / sizeof blocking_hooks[0];
    return blocking_hooks;
}

blocking_calls_seen blocking_calls_so_far()
{
    blocking_calls_seen seen;
    for (int i = 0; i < name_count; ++i) {
        const auto calls = static_cast<std::uint64_t>(table().calls[i]);
        if (calls == 0) continue;
        seen.calls.push_back({counted_names[i], calls});
        seen.total += calls;
    }
    seen.updates = static_cast<std::uint64_t>(table().updates_with_calls);
    seen.waited_seconds = static_cast<double>(table().waited_ticks) / static_cast<double>(ticks_per_second());
    return seen;
}

}  // namespace validate
