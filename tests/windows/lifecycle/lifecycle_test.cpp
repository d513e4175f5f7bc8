// The plug-in in a stand-in host under Wine, one case per process (CTest
// runs each by itself, from the folder that holds skarvel_external_dll.dll),
// so that a hang or a crash in one cannot hide the others.
//
// The cases are this plug-in's own: its window, its timer, the user's close,
// its datagrams. What any plug-in must do (its exports and version, the order
// of calls, Shutdown without Init, Init and Shutdown storms, unloading or
// exiting without Shutdown) the validator checks, and the test command runs
// it on this plug-in (tests/validate).
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/message_builder.h"
#include "tests/support/motion_receiver.h"
#include "tests/support/private_network.h"
#include "tools/common/file_system.h"
#include "tools/common/win32/plugin_library.h"

namespace {

constexpr char plugin_file_name[] = "skarvel_external_dll.dll";
constexpr char display_class[] = "skarvel_external_dll_sample";
constexpr char display_caption[] = "Skarvel External DLL Sample";

constexpr int window_timeout_ms = 5000;
constexpr int prompt_ms = 1000;  // "returns at once", with room for a slow machine

// ---- time ----------------------------------------------------------------

using host_clock = std::chrono::steady_clock;

double ms_since(host_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(host_clock::now() - start).count();
}

// A figure worth reading in the test log ("timing: name = 12.3 ms").
void report_ms(const char* name, double ms)
{
    std::printf("timing: %s = %.1f ms\n", name, ms);
    std::fflush(stdout);
}

// Polls `condition` every 5 ms until it holds or `timeout_ms` has passed,
// pumping the host thread's own messages meanwhile.
bool wait_until(const std::function<bool()>& condition, int timeout_ms)
{
    const auto start = host_clock::now();
    for (;;) {
        if (condition()) return true;
        if (ms_since(start) >= timeout_ms) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(5);
    }
}

// ---- the display window ----------------------------------------------------

HWND find_display_window()
{
    return FindWindowA(display_class, display_caption);
}

// Windows of the display class in this process.
int count_display_windows()
{
    int count = 0;
    EnumWindows(
        [](HWND window, LPARAM counter) -> BOOL {
            char name[64] = {};
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && GetClassNameA(window, name, sizeof name) > 0 &&
                std::strcmp(name, display_class) == 0)
                ++*reinterpret_cast<int*>(counter);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

DWORD window_thread(HWND window)
{
    return GetWindowThreadProcessId(window, nullptr);
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

bool plugin_mapped()
{
    return GetModuleHandleA(plugin_file_name) != nullptr;
}

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
        EXPECT_TRUE(retrieved_ != nullptr && sent_ != nullptr);
        retrieved_paints = 0;
        retrieved_timers = 0;
        sent_erases = 0;
        sent_move_starts = 0;
    }
    ~message_counter()
    {
        if (retrieved_ != nullptr) UnhookWindowsHookEx(retrieved_);
        if (sent_ != nullptr) UnhookWindowsHookEx(sent_);
    }
    message_counter(const message_counter&) = delete;
    message_counter& operator=(const message_counter&) = delete;

private:
    HHOOK retrieved_;
    HHOOK sent_;
};

// A hook on every thread of the desktop that sees the display window being
// made: it can hold the creation back for a while, or refuse it.
enum class creation_mode { delay, refuse };
std::atomic<creation_mode> creation{creation_mode::delay};
constexpr DWORD creation_delay_ms = 600;
HANDLE creation_seen = nullptr;  // set when the display window's creation reaches the hook
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
        EXPECT_NE(hook_, nullptr);
    }
    ~creation_watch() { remove(); }
    creation_watch(const creation_watch&) = delete;
    creation_watch& operator=(const creation_watch&) = delete;
    void remove()
    {
        if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
    }
    bool wait_seen(int timeout_ms) { return WaitForSingleObject(creation_seen, timeout_ms) == WAIT_OBJECT_0; }

private:
    HHOOK hook_ = nullptr;
};

// ---- frames and datagrams ------------------------------------------------

struct motion_values {
    double time = 0.0;
    double velocity[3] = {};
    double angular_velocity[3] = {};
};

// Simulation.Time, Aircraft.Velocity and Aircraft.AngularVelocity, as the
// host lays them out.
std::vector<std::uint8_t> motion_frame(const motion_values& values)
{
    using namespace test_messages;
    const double* v = values.velocity;
    const double* w = values.angular_velocity;
    return stream_of({simulation_time(values.time), velocity(v[0], v[1], v[2]), angular_velocity(w[0], w[1], w[2])});
}
constexpr std::uint32_t motion_frame_count = 3;

// The 32-byte motion datagram of `values`, read field by field.
void expect_motion_datagram(const std::vector<std::uint8_t>& datagram, const motion_values& values)
{
    ASSERT_EQ(datagram.size(), 32u);
    const std::uint8_t marker[4] = {0x47, 0x00, 0x4D, 0x04};
    EXPECT_EQ(std::memcmp(datagram.data(), marker, 4), 0);
    std::uint32_t time_field = 0;
    std::memcpy(&time_field, datagram.data() + 4, 4);
    EXPECT_EQ(time_field, static_cast<std::uint32_t>(static_cast<std::int64_t>(values.time * 1000000.0)));
    for (std::size_t i = 0; i < 6; ++i) {
        float value = 0.0f;
        std::memcpy(&value, datagram.data() + 8 + 4 * i, 4);
        const double expected = i < 3 ? values.velocity[i] : values.angular_velocity[i - 3];
        EXPECT_EQ(value, static_cast<float>(expected)) << "value " << i;
    }
}

// ---- the stand-in host ---------------------------------------------------

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA wsa;  // the host starts Windows Sockets before the first Update
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
        // Datagrams only where loopback is the only interface; elsewhere the
        // host feeds only empty frames, which send nothing.
        may_broadcast_ = in_private_network_namespace();
        if (!may_broadcast_) std::printf("note: not in a private network namespace: no datagram is sent or checked\n");
        ASSERT_TRUE(load());
    }

    void TearDown() override
    {
        library_.unload();
        WSACleanup();
    }

    bool load()
    {
        std::string error;
        const bool loaded = library_.load(tools::absolute_path(plugin_file_name), error);
        EXPECT_TRUE(loaded) << error;
        return loaded;
    }

    const plugin_interface::entry_points& plugin() const { return library_.entry_points(); }
    HMODULE module() const { return library_.module(); }
    void unload() { library_.unload(); }

    bool unloads_fully()
    {
        library_.unload();
        return wait_until([] { return !plugin_mapped(); }, 3000);
    }

    // Init, then the window up: returns it, or null after a failed check.
    HWND init_and_wait()
    {
        const auto start = host_clock::now();
        EXPECT_TRUE(plugin().init(nullptr));
        HWND window = nullptr;
        wait_until(
            [&] {
                window = find_display_window();
                return window != nullptr && IsWindowVisible(window);
            },
            window_timeout_ms);
        if (window == nullptr || !IsWindowVisible(window)) {
            ADD_FAILURE() << "no visible display window within " << window_timeout_ms << " ms of Init";
            return nullptr;
        }
        report_ms("init to window visible", ms_since(start));
        return window;
    }

    // Shutdown, timed; the window must be gone afterwards.
    double timed_shutdown()
    {
        const auto start = host_clock::now();
        plugin().shutdown();
        const double ms = ms_since(start);
        EXPECT_EQ(find_display_window(), nullptr);
        return ms;
    }

    // The receiver on port 50001, where broadcasts may be sent at all.
    void listen_for_datagrams()
    {
        if (!may_broadcast_) return;
        receiver_ = std::make_unique<motion_receiver>();
        ASSERT_TRUE(receiver_->is_bound());
    }

    // One Update with a motion frame: both outputs must come back 0 and, with
    // a receiver, the datagram must arrive.
    void update_and_expect_datagram(const motion_values& values)
    {
        const std::vector<std::uint8_t> stream = motion_frame(values);
        const std::uint32_t count = may_broadcast_ ? motion_frame_count : 0;
        std::int32_t output1 = -1;
        std::int32_t output2 = -1;
        if (receiver_) {
            while (receiver_->receive(0, 0)) {
            }
        }
        plugin().update(0.02, stream.data(), 0, count, nullptr, &output1, &output2);
        EXPECT_TRUE(output1 == 0 && output2 == 0);
        if (!receiver_) return;
        const std::optional<std::vector<std::uint8_t>> datagram = receiver_->receive(0, 2000);
        ASSERT_TRUE(datagram) << "no datagram within 2 s of Update";
        expect_motion_datagram(*datagram, values);
    }

    // The user closes the window: the display thread ends by itself, Update
    // goes on broadcasting, a later Shutdown returns at once, and a new Init
    // brings a new window. `close` is how the user's close arrives.
    void user_close(const std::function<void(HWND)>& close);

    std::unique_ptr<motion_receiver> receiver_;

private:
    tools::plugin_library library_;
    bool may_broadcast_ = false;
};

// ---- the cases -----------------------------------------------------------

// Init(null) shows the window, placed and dressed; Shutdown takes it away.
TEST_F(Lifecycle, WindowShown)
{
    const HWND window = init_and_wait();
    ASSERT_NE(window, nullptr);

    char text[128] = {};
    GetClassNameA(window, text, sizeof text);
    EXPECT_STREQ(text, "skarvel_external_dll_sample");
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "Skarvel External DLL Sample");

    RECT rect{};
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 640);
    EXPECT_EQ(rect.bottom - rect.top, 1080);
    EXPECT_EQ(rect.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(rect.top, 0);

    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    const LONG_PTR expected_style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_VISIBLE;
    EXPECT_EQ(style & expected_style, expected_style);
    EXPECT_EQ(GetClassLongPtrA(window, GCL_STYLE), static_cast<ULONG_PTR>(CS_VREDRAW | CS_HREDRAW));
    EXPECT_EQ(reinterpret_cast<HICON>(GetClassLongPtrA(window, GCLP_HICON)), LoadIconA(nullptr, IDI_ASTERISK));
    EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(window, GCLP_HCURSOR)), LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(GetClassLongPtrA(window, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_BACKGROUND + 1));
    EXPECT_NE(window_thread(window), GetCurrentThreadId());
    EXPECT_EQ(count_display_windows(), 1);

    const DWORD thread = window_thread(window);
    report_ms("shutdown with window up", timed_shutdown());
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(thread_ends(thread, 0));
}

// The 500 ms timer: about two timer messages and two paints a second, and no
// erase of the background for them.
TEST_F(Lifecycle, TimerRepaints)
{
    const HWND window = init_and_wait();
    ASSERT_NE(window, nullptr);
    Sleep(300);  // past the first showing's paint

    {
        message_counter counter(window_thread(window));
        Sleep(3000);
    }
    const int timers = retrieved_timers.load();
    const int paints = retrieved_paints.load();
    std::printf("in 3 s: %d WM_TIMER, %d WM_PAINT, %d WM_ERASEBKGND\n", timers, paints, sent_erases.load());
    EXPECT_GE(timers, 5);
    EXPECT_LE(timers, 7);
    EXPECT_GE(paints, timers - 1);
    EXPECT_LE(paints, timers + 1);
    EXPECT_EQ(sent_erases.load(), 0);
    timed_shutdown();
}

void Lifecycle::user_close(const std::function<void(HWND)>& close)
{
    ASSERT_NO_FATAL_FAILURE(listen_for_datagrams());
    const HWND window = init_and_wait();
    ASSERT_NE(window, nullptr);
    const DWORD thread = window_thread(window);

    const auto start = host_clock::now();
    close(window);
    EXPECT_TRUE(thread_ends(thread, 3000));
    report_ms("user close to display thread end", ms_since(start));
    EXPECT_TRUE(!IsWindow(window) && find_display_window() == nullptr);

    const motion_values values{12.25, {1.0, 2.0, 3.0}, {0.5, -0.25, 4.0}};
    for (int frame = 0; frame < 3; ++frame) update_and_expect_datagram(values);

    const HWND second = init_and_wait();  // Init after a close starts a new display thread
    ASSERT_NE(second, nullptr);
    EXPECT_NE(window_thread(second), thread);
    update_and_expect_datagram(values);
    close(second);
    EXPECT_TRUE(thread_ends(window_thread(second), 3000) && find_display_window() == nullptr);

    const double ms = timed_shutdown();
    report_ms("shutdown after user close", ms);
    EXPECT_LT(ms, prompt_ms);
    update_and_expect_datagram(values);
    EXPECT_TRUE(unloads_fully());
}

TEST_F(Lifecycle, UserClosePosted)
{
    user_close([](HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); });
}

// The caption's close button and the system menu arrive as SC_CLOSE; sent
// from another thread, the close runs inside the display thread's wait for
// messages.
TEST_F(Lifecycle, UserCloseSent)
{
    user_close([](HWND window) { SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

// Init, Shutdown, Init, Shutdown: a new window each time, gone after each
// Shutdown; an Init while one runs starts no second.
TEST_F(Lifecycle, Restart)
{
    for (int run = 0; run < 3; ++run) {
        const HWND window = init_and_wait();
        ASSERT_NE(window, nullptr) << "run " << run;
        const DWORD thread = window_thread(window);
        EXPECT_TRUE(plugin().init(nullptr));  // already running
        Sleep(200);
        EXPECT_EQ(count_display_windows(), 1);
        EXPECT_EQ(find_display_window(), window);
        RECT rect{};
        GetWindowRect(window, &rect);
        EXPECT_TRUE(rect.right == GetSystemMetrics(SM_CXSCREEN) && rect.top == 0 && rect.right - rect.left == 640);
        report_ms("shutdown with window up", timed_shutdown());
        EXPECT_TRUE(!IsWindow(window) && thread_ends(thread, 0));
    }
    EXPECT_TRUE(unloads_fully());
}

// Shutdown while the display thread is in a modal loop of the system, the
// user moving the window: the loop ends and Shutdown returns.
TEST_F(Lifecycle, ShutdownWhileMoving)
{
    const HWND window = init_and_wait();
    ASSERT_NE(window, nullptr);
    message_counter counter(window_thread(window));
    PostMessageA(window, WM_SYSCOMMAND, SC_MOVE, 0);
    EXPECT_TRUE(wait_until([] { return sent_move_starts.load() > 0; }, 2000));
    const double ms = timed_shutdown();
    report_ms("shutdown while the window is being moved", ms);
    EXPECT_LT(ms, prompt_ms);
    EXPECT_TRUE(unloads_fully());
}

// Update needs no display: before Init and after Shutdown it parses and
// broadcasts; a frame of no messages sends nothing.
TEST_F(Lifecycle, UpdateWithoutDisplay)
{
    ASSERT_NO_FATAL_FAILURE(listen_for_datagrams());
    const motion_values values{1.5, {1.0, 2.0, 3.0}, {-1.0, 0.125, 7.0}};
    update_and_expect_datagram(values);

    std::int32_t output1 = -1;
    std::int32_t output2 = -1;
    plugin().update(0.02, nullptr, 0, 0, nullptr, &output1, &output2);
    EXPECT_TRUE(output1 == 0 && output2 == 0);
    if (receiver_) {
        EXPECT_FALSE(receiver_->receive(0, 300)) << "a frame of no messages sent a datagram";
    }

    init_and_wait();
    update_and_expect_datagram(values);
    timed_shutdown();
    const motion_values later{2.0, {4.0, 5.0, 6.0}, {0.0, 0.0, 1.0}};
    update_and_expect_datagram(later);  // the socket closed by Shutdown opens again
    EXPECT_TRUE(unloads_fully());
}

// A Shutdown while the display thread is still making its window: the
// window never shows and Shutdown returns as soon as the creation does.
TEST_F(Lifecycle, StopBeforeWindow)
{
    creation_watch watch(creation_mode::delay);
    EXPECT_TRUE(plugin().init(nullptr));
    ASSERT_TRUE(watch.wait_seen(window_timeout_ms));
    const double ms = timed_shutdown();
    report_ms("shutdown before the window exists", ms);
    EXPECT_LT(ms, creation_delay_ms + prompt_ms);
    EXPECT_EQ(display_activations.load(), 0);  // never placed and shown
    watch.remove();
    init_and_wait();
    timed_shutdown();
    EXPECT_TRUE(unloads_fully());
}

// A window that cannot be made ends the display thread; Shutdown returns,
// and a later Init, when windows can be made again, shows one.
TEST_F(Lifecycle, WindowCreationFails)
{
    creation_watch watch(creation_mode::refuse);
    EXPECT_TRUE(plugin().init(nullptr));
    ASSERT_TRUE(watch.wait_seen(window_timeout_ms));
    Sleep(300);
    const double ms = timed_shutdown();
    report_ms("shutdown after a failed window creation", ms);
    EXPECT_LT(ms, prompt_ms);
    watch.remove();
    init_and_wait();
    timed_shutdown();
    EXPECT_TRUE(unloads_fully());
}

// After the host unloaded the library without Shutdown (that the host goes
// on unharmed is the validator's lifecycle.unload_without_shutdown), the
// window stays up and painting until the user closes it; the library then
// leaves the process by itself, its class unregistered, and loads and runs
// again afterwards.
TEST_F(Lifecycle, UserCloseAfterUnload)
{
    const HMODULE first_module = module();
    const HWND window = init_and_wait();
    ASSERT_NE(window, nullptr);
    const DWORD thread = window_thread(window);

    unload();
    EXPECT_TRUE(plugin_mapped());  // held by the display thread
    {
        message_counter counter(thread);
        Sleep(1200);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_GE(retrieved_paints.load(), 1);
    }

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(thread_ends(thread, 3000));
    EXPECT_TRUE(wait_until([] { return !plugin_mapped(); }, 3000));
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetClassInfoExA(first_module, display_class, &info));

    ASSERT_TRUE(load());
    init_and_wait();
    timed_shutdown();
    const HMODULE second_module = module();
    EXPECT_TRUE(unloads_fully());
    EXPECT_FALSE(GetClassInfoExA(second_module, display_class, &info));
}

}  // namespace
