// A stand-in for the simulation host: loads the plug-in and drives one named
// scenario per process, so that a hang or a crash in one cannot hide the
// others. Usage: plugin_host <scenario> <path of skarvel_external_dll.dll>.
// Exit code 0 when every check of the scenario held.
//
// The scenarios are this plug-in's own: its window, its timer, the user's
// close, its datagrams. What any plug-in must do (its exports and version,
// the order of calls, Shutdown without Init, Init and Shutdown storms,
// unloading or exiting without Shutdown) the validator checks, and the test
// command runs it on this plug-in (tests/validate).
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "tests/windows/lifecycle/host_support.h"
#include "tools/common/file_system.h"

namespace {

std::string plugin_path;  // absolute, from the command line

constexpr int window_timeout_ms = 5000;
constexpr int prompt_ms = 1000;  // "returns at once", with room for a slow machine

// ---- observing the display thread from inside the process -------------

// Messages the display thread takes from its queue, and the erases it is
// sent, counted by hooks on that thread.
std::atomic<int> retrieved_paints{0};
std::atomic<int> retrieved_timers{0};
std::atomic<int> sent_erases{0};
std::atomic<int> sent_move_starts{0};

LRESULT CALLBACK count_retrieved(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HC_ACTION && wparam == PM_REMOVE) {
        const auto* msg = reinterpret_cast<const MSG*>(lparam);
        if (msg->message == WM_PAINT) ++retrieved_paints;
        if (msg->message == WM_TIMER) ++retrieved_timers;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT CALLBACK count_sent(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HC_ACTION) {
        const UINT message = reinterpret_cast<const CWPSTRUCT*>(lparam)->message;
        if (message == WM_ERASEBKGND) ++sent_erases;
        if (message == WM_ENTERSIZEMOVE) ++sent_move_starts;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

class message_counter {
public:
    explicit message_counter(DWORD thread)
        : retrieved_(SetWindowsHookExA(WH_GETMESSAGE, count_retrieved, nullptr, thread)),
          sent_(SetWindowsHookExA(WH_CALLWNDPROC, count_sent, nullptr, thread))
    {
        HOST_CHECK(retrieved_ != nullptr && sent_ != nullptr);
        reset();
    }
    ~message_counter()
    {
        if (retrieved_ != nullptr) UnhookWindowsHookEx(retrieved_);
        if (sent_ != nullptr) UnhookWindowsHookEx(sent_);
    }
    void reset()
    {
        retrieved_paints = 0;
        retrieved_timers = 0;
        sent_erases = 0;
        sent_move_starts = 0;
    }

private:
    HHOOK retrieved_;
    HHOOK sent_;
};

// A hook on every thread of the process that sees the display window being
// made: it can hold the creation back for a while, or refuse it.
enum class creation_mode { delay, refuse };
std::atomic<creation_mode> creation{creation_mode::delay};
constexpr DWORD creation_delay_ms = 600;
HANDLE creation_seen = nullptr;           // set when the display window's creation reaches the hook
std::atomic<int> display_activations{0};  // display windows activated, i.e. placed and shown

bool is_display_class(HWND window)
{
    char name[64] = {};
    return GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, display_class) == 0;
}

LRESULT CALLBACK watch_creation(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HCBT_CREATEWND) {
        const char* class_name = reinterpret_cast<const CBT_CREATEWNDA*>(lparam)->lpcs->lpszClass;
        if (HIWORD(reinterpret_cast<ULONG_PTR>(class_name)) != 0 && std::strcmp(class_name, display_class) == 0) {
            SetEvent(creation_seen);
            if (creation.load() == creation_mode::refuse) return 1;
            Sleep(creation_delay_ms);
        }
    }
    if (code == HCBT_ACTIVATE && is_display_class(reinterpret_cast<HWND>(wparam))) ++display_activations;
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

class creation_watch {
public:
    explicit creation_watch(creation_mode mode)
    {
        creation = mode;
        display_activations = 0;
        creation_seen = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        hook_ = SetWindowsHookExA(WH_CBT, watch_creation, GetModuleHandleA(nullptr), 0);
        HOST_CHECK(hook_ != nullptr);
    }
    ~creation_watch() { remove(); }
    void remove()
    {
        if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
    }
    bool wait_seen(int timeout_ms) { return WaitForSingleObject(creation_seen, timeout_ms) == WAIT_OBJECT_0; }

private:
    HHOOK hook_ = nullptr;
};

// ---- steps shared by the scenarios --------------------------------------

// Init, then the window up: returns it, or null after a failed check.
HWND init_and_wait(plugin_library& plugin)
{
    const auto start = host_clock::now();
    if (!HOST_CHECK(plugin.init(nullptr))) return nullptr;
    const HWND window = wait_for_visible_window(window_timeout_ms);
    HOST_CHECK(window != nullptr);
    if (window != nullptr) report_ms("init to window visible", ms_since(start));
    return window;
}

// Shutdown, timed; the window must be gone afterwards.
double timed_shutdown(plugin_library& plugin)
{
    const auto start = host_clock::now();
    plugin.shutdown();
    const double ms = ms_since(start);
    HOST_CHECK(find_display_window() == nullptr);
    return ms;
}

// Waits for a thread of this process to end.
bool thread_ends(DWORD thread_id, int timeout_ms)
{
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, thread_id);
    if (thread == nullptr) return true;  // gone already
    const bool ended = WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// Datagrams go out only inside a private network namespace; elsewhere the
// host feeds only empty frames, which send nothing.
bool may_broadcast = false;

// One Update with a motion frame: both outputs must come back 0 and, with a
// receiver, the datagram must arrive.
void update_and_expect_datagram(plugin_library& plugin, datagram_receiver* receiver, const motion_values& values)
{
    const std::vector<std::uint8_t> stream = motion_frame(values);
    const std::uint32_t count = may_broadcast ? motion_frame_count : 0;
    std::int32_t output1 = -1;
    std::int32_t output2 = -1;
    if (receiver != nullptr) receiver->drain();
    plugin.update(0.02, stream.data(), 0, count, nullptr, &output1, &output2);
    HOST_CHECK(output1 == 0 && output2 == 0);
    if (receiver == nullptr) return;
    std::vector<std::uint8_t> datagram;
    HOST_CHECK(receiver->receive(datagram, 2000));
    HOST_CHECK(is_motion_datagram(datagram, values));
}

// The receiver, where broadcasts may be sent at all.
struct broadcast_check {
    broadcast_check()
    {
        if (!may_broadcast) return;
        receiver.reset(new datagram_receiver);
        HOST_CHECK(receiver->ready());
    }
    datagram_receiver* get() { return receiver && receiver->ready() ? receiver.get() : nullptr; }
    std::unique_ptr<datagram_receiver> receiver;
};

bool unloads_fully(plugin_library& plugin)
{
    plugin.unload();
    return wait_until([] { return !plugin_mapped(); }, 3000);
}

// ---- scenarios ---------------------------------------------------------

// Init(null) shows the window, placed and dressed; Shutdown takes it away.
void window_shown()
{
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    const HWND window = init_and_wait(plugin);
    if (window == nullptr) return;

    char text[128] = {};
    GetClassNameA(window, text, sizeof text);
    HOST_CHECK(std::strcmp(text, "skarvel_external_dll_sample") == 0);
    GetWindowTextA(window, text, sizeof text);
    HOST_CHECK(std::strcmp(text, "Skarvel External DLL Sample") == 0);

    RECT rect{};
    GetWindowRect(window, &rect);
    std::printf("window rect: %ld %ld %ld %ld, screen width %d\n", rect.left, rect.top, rect.right, rect.bottom,
                GetSystemMetrics(SM_CXSCREEN));
    HOST_CHECK(rect.right - rect.left == 640);
    HOST_CHECK(rect.bottom - rect.top == 1080);
    HOST_CHECK(rect.right == GetSystemMetrics(SM_CXSCREEN));
    HOST_CHECK(rect.top == 0);

    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    const LONG_PTR expected_style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_VISIBLE;
    HOST_CHECK((style & expected_style) == expected_style);
    HOST_CHECK(GetClassLongPtrA(window, GCL_STYLE) == (CS_VREDRAW | CS_HREDRAW));
    HOST_CHECK(reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICON)) == LoadIconA(nullptr, IDI_ASTERISK));
    HOST_CHECK(reinterpret_cast<HCURSOR>(GetClassLongPtrA(window, GCLP_HCURSOR)) == LoadCursorA(nullptr, IDC_ARROW));
    HOST_CHECK(GetClassLongPtrA(window, GCLP_HBRBACKGROUND) == COLOR_BACKGROUND + 1);
    HOST_CHECK(window_thread(window) != GetCurrentThreadId());
    HOST_CHECK(count_display_windows() == 1);

    const DWORD thread = window_thread(window);
    report_ms("shutdown with window up", timed_shutdown(plugin));
    HOST_CHECK(!IsWindow(window));
    HOST_CHECK(thread_ends(thread, 0));
}

// The 500 ms timer: about two timer messages and two paints a second, and no
// erase of the background for them.
void timer_repaints()
{
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    const HWND window = init_and_wait(plugin);
    if (window == nullptr) return;
    Sleep(300);  // past the first showing's paint

    message_counter counter(window_thread(window));
    Sleep(3000);
    const int timers = retrieved_timers.load();
    const int paints = retrieved_paints.load();
    const int erases = sent_erases.load();
    std::printf("in 3 s: %d WM_TIMER, %d WM_PAINT, %d WM_ERASEBKGND\n", timers, paints, erases);
    HOST_CHECK(timers >= 5 && timers <= 7);
    HOST_CHECK(paints >= timers - 1 && paints <= timers + 1);
    HOST_CHECK(erases == 0);
    timed_shutdown(plugin);
}

// The user closes the window: the display thread ends by itself, Update
// goes on broadcasting, a later Shutdown returns at once, and a new Init
// brings a new window. `close` is how the user's close arrives.
void user_close(const std::function<void(HWND)>& close)
{
    broadcast_check broadcast;
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    const HWND window = init_and_wait(plugin);
    if (window == nullptr) return;
    const DWORD thread = window_thread(window);

    const auto start = host_clock::now();
    close(window);
    HOST_CHECK(thread_ends(thread, 3000));
    report_ms("user close to display thread end", ms_since(start));
    HOST_CHECK(!IsWindow(window) && find_display_window() == nullptr);

    const motion_values values{12.25, {1.0, 2.0, 3.0}, {0.5, -0.25, 4.0}};
    for (int frame = 0; frame < 3; ++frame) update_and_expect_datagram(plugin, broadcast.get(), values);

    const HWND second = init_and_wait(plugin);  // Init after a close starts a new display thread
    HOST_CHECK(second != nullptr && window_thread(second) != thread);
    update_and_expect_datagram(plugin, broadcast.get(), values);
    close(second);
    HOST_CHECK(thread_ends(window_thread(second), 3000) && find_display_window() == nullptr);

    const double ms = timed_shutdown(plugin);
    report_ms("shutdown after user close", ms);
    HOST_CHECK(ms < prompt_ms);
    update_and_expect_datagram(plugin, broadcast.get(), values);
    HOST_CHECK(unloads_fully(plugin));
}

void user_close_posted()
{
    user_close([](HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); });
}

// The caption's close button and the system menu arrive as SC_CLOSE; sent
// from another thread, the close runs inside the display thread's wait for
// messages.
void user_close_sent()
{
    user_close([](HWND window) { SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

// Init, Shutdown, Init, Shutdown: a new window each time, gone after each
// Shutdown; an Init while one runs starts no second.
void restart()
{
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    for (int run = 0; run < 3; ++run) {
        const HWND window = init_and_wait(plugin);
        if (window == nullptr) return;
        const DWORD thread = window_thread(window);
        HOST_CHECK(plugin.init(nullptr));  // already running
        Sleep(200);
        HOST_CHECK(count_display_windows() == 1 && find_display_window() == window);
        RECT rect{};
        GetWindowRect(window, &rect);
        HOST_CHECK(rect.right == GetSystemMetrics(SM_CXSCREEN) && rect.top == 0 && rect.right - rect.left == 640);
        report_ms("shutdown with window up", timed_shutdown(plugin));
        HOST_CHECK(!IsWindow(window) && thread_ends(thread, 0));
    }
    HOST_CHECK(unloads_fully(plugin));
}

// Shutdown while the display thread is in a modal loop of the system, the
// user moving the window: the loop ends and Shutdown returns.
void shutdown_while_moving()
{
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    const HWND window = init_and_wait(plugin);
    if (window == nullptr) return;
    message_counter counter(window_thread(window));
    PostMessageA(window, WM_SYSCOMMAND, SC_MOVE, 0);
    HOST_CHECK(wait_until([] { return sent_move_starts.load() > 0; }, 2000));
    const double ms = timed_shutdown(plugin);
    report_ms("shutdown while the window is being moved", ms);
    HOST_CHECK(ms < prompt_ms);
    HOST_CHECK(unloads_fully(plugin));
}

// Update needs no display: before Init and after Shutdown it parses and
// broadcasts; a frame of no messages sends nothing.
void update_without_display()
{
    broadcast_check broadcast;
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    const motion_values values{1.5, {1.0, 2.0, 3.0}, {-1.0, 0.125, 7.0}};
    update_and_expect_datagram(plugin, broadcast.get(), values);

    std::int32_t output1 = -1;
    std::int32_t output2 = -1;
    plugin.update(0.02, nullptr, 0, 0, nullptr, &output1, &output2);
    HOST_CHECK(output1 == 0 && output2 == 0);
    if (datagram_receiver* receiver = broadcast.get()) {
        std::vector<std::uint8_t> datagram;
        HOST_CHECK(!receiver->receive(datagram, 300));
    }

    init_and_wait(plugin);
    update_and_expect_datagram(plugin, broadcast.get(), values);
    timed_shutdown(plugin);
    const motion_values later{2.0, {4.0, 5.0, 6.0}, {0.0, 0.0, 1.0}};
    update_and_expect_datagram(plugin, broadcast.get(), later);  // the socket closed by Shutdown opens again
    HOST_CHECK(unloads_fully(plugin));
}

// A Shutdown while the display thread is still making its window: the
// window never shows and Shutdown returns as soon as the creation does.
void stop_before_window()
{
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    creation_watch watch(creation_mode::delay);
    HOST_CHECK(plugin.init(nullptr));
    if (!HOST_CHECK(watch.wait_seen(window_timeout_ms))) return;
    const double ms = timed_shutdown(plugin);
    report_ms("shutdown before the window exists", ms);
    HOST_CHECK(ms < creation_delay_ms + prompt_ms);
    HOST_CHECK(display_activations.load() == 0);  // never placed and shown
    watch.remove();
    init_and_wait(plugin);
    timed_shutdown(plugin);
    HOST_CHECK(unloads_fully(plugin));
}

// A window that cannot be made ends the display thread; Shutdown returns,
// and a later Init, when windows can be made again, shows one.
void window_creation_fails()
{
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    creation_watch watch(creation_mode::refuse);
    HOST_CHECK(plugin.init(nullptr));
    if (!HOST_CHECK(watch.wait_seen(window_timeout_ms))) return;
    Sleep(300);
    const double ms = timed_shutdown(plugin);
    report_ms("shutdown after a failed window creation", ms);
    HOST_CHECK(ms < prompt_ms);
    watch.remove();
    init_and_wait(plugin);
    timed_shutdown(plugin);
    HOST_CHECK(unloads_fully(plugin));
}

// After the host unloaded the library without Shutdown (that the host goes
// on unharmed is the validator's lifecycle.unload_without_shutdown), the
// window stays up and painting until the user closes it; the library then
// leaves the process by itself, its class unregistered, and loads and runs
// again afterwards.
void user_close_after_unload()
{
    plugin_library plugin;
    if (!plugin.load(plugin_path)) return;
    const HMODULE first_module = plugin.module;
    const HWND window = init_and_wait(plugin);
    if (window == nullptr) return;
    const DWORD thread = window_thread(window);

    plugin.unload();
    HOST_CHECK(plugin_mapped());  // held by the display thread
    {
        message_counter counter(thread);
        Sleep(1200);
        HOST_CHECK(IsWindow(window) && retrieved_paints.load() >= 1);
    }

    PostMessageA(window, WM_CLOSE, 0, 0);
    HOST_CHECK(thread_ends(thread, 3000));
    HOST_CHECK(wait_until([] { return !plugin_mapped(); }, 3000));
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    HOST_CHECK(!GetClassInfoExA(first_module, display_class, &info));

    if (!plugin.load(plugin_path)) return;
    init_and_wait(plugin);
    timed_shutdown(plugin);
    const HMODULE second_module = plugin.module;
    HOST_CHECK(unloads_fully(plugin));
    HOST_CHECK(!GetClassInfoExA(second_module, display_class, &info));
}

const std::map<std::string, void (*)()>& scenarios()
{
    static const std::map<std::string, void (*)()> all = {
        {"window_shown", window_shown},
        {"timer_repaints", timer_repaints},
        {"user_close_posted", user_close_posted},
        {"user_close_sent", user_close_sent},
        {"restart", restart},
        {"shutdown_while_moving", shutdown_while_moving},
        {"update_without_display", update_without_display},
        {"stop_before_window", stop_before_window},
        {"window_creation_fails", window_creation_fails},
        {"user_close_after_unload", user_close_after_unload},
    };
    return all;
}

}  // namespace

int main(int argc, char** argv)
{
    const auto found = argc == 3 ? scenarios().find(argv[1]) : scenarios().end();
    if (found == scenarios().end()) {
        std::printf("usage: plugin_host <scenario> <plug-in DLL>; scenarios:");
        for (const auto& entry : scenarios()) std::printf(" %s", entry.first.c_str());
        std::printf("\n");
        return 2;
    }
    plugin_path = tools::absolute_path(argv[2]);
    // Datagrams only where loopback is the only interface; the test command
    // also makes sure the Wine server, which owns the sockets, runs there.
    may_broadcast = in_private_network_namespace();
    if (!may_broadcast) std::printf("note: not in a private network namespace: no datagram is sent or checked\n");

    WSADATA wsa;  // the host starts Windows Sockets before the first Update
    WSAStartup(MAKEWORD(2, 2), &wsa);
    found->second();
    WSACleanup();

    std::printf("%s: %s\n", found->first.c_str(), failure_count() == 0 ? "passed" : "FAILED");
    return failure_count() == 0 ? 0 : 1;
}
