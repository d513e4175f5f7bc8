#include "tests/windows/lifecycle/host_support.h"

#include <cstdio>
#include <cstring>

#include "tests/support/message_builder.h"

namespace {

int failures = 0;

}  // namespace

bool check(bool ok, const char* text, const char* file, int line)
{
    if (!ok) {
        ++failures;
        std::printf("FAILED %s:%d: %s\n", file, line, text);
        std::fflush(stdout);
    }
    return ok;
}

int failure_count()
{
    return failures;
}

void report_ms(const char* name, double ms)
{
    std::printf("timing: %s = %.1f ms\n", name, ms);
    std::fflush(stdout);
}

double ms_since(host_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(host_clock::now() - start).count();
}

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

// ---- the plug-in -------------------------------------------------------

bool plugin_library::load(const std::string& path)
{
    std::string error;
    if (!check(library.load(path, error), error.c_str(), __FILE__, __LINE__)) return false;
    module = library.module();
    init = library.entry_points().init;
    update = library.entry_points().update;
    shutdown = library.entry_points().shutdown;
    return true;
}

void plugin_library::unload()
{
    library.unload();
    module = nullptr;
    init = nullptr;
    update = nullptr;
    shutdown = nullptr;
}

bool plugin_mapped()
{
    return GetModuleHandleA(plugin_file_name) != nullptr;
}

// ---- the display window ------------------------------------------------

HWND find_display_window()
{
    return FindWindowA(display_class, display_caption);
}

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

HWND wait_for_visible_window(int timeout_ms)
{
    HWND window = nullptr;
    wait_until(
        [&] {
            window = find_display_window();
            return window != nullptr && IsWindowVisible(window);
        },
        timeout_ms);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

DWORD window_thread(HWND window)
{
    return GetWindowThreadProcessId(window, nullptr);
}

// ---- frames ------------------------------------------------------------

std::vector<std::uint8_t> motion_frame(const motion_values& values)
{
    using namespace test_messages;
    const double* v = values.velocity;
    const double* w = values.angular_velocity;
    return stream_of({simulation_time(values.time), velocity(v[0], v[1], v[2]), angular_velocity(w[0], w[1], w[2])});
}

// ---- datagrams ---------------------------------------------------------

datagram_receiver::datagram_receiver()
{
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket_ == INVALID_SOCKET) return;
    const BOOL reuse = TRUE;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(50001);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

datagram_receiver::~datagram_receiver()
{
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

bool datagram_receiver::receive(std::vector<std::uint8_t>& datagram, int timeout_ms)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &timeout) != 1) return false;
    char buffer[512];
    const int length = recv(socket_, buffer, sizeof buffer, 0);
    if (length < 0) return false;
    datagram.assign(buffer, buffer + length);
    return true;
}

void datagram_receiver::drain()
{
    std::vector<std::uint8_t> ignored;
    while (receive(ignored, 0)) {
    }
}

bool is_motion_datagram(const std::vector<std::uint8_t>& datagram, const motion_values& values)
{
    if (datagram.size() != 32) return false;
    const std::uint8_t marker[4] = {0x47, 0x00, 0x4D, 0x04};
    if (std::memcmp(datagram.data(), marker, 4) != 0) return false;
    std::uint32_t time_field = 0;
    std::memcpy(&time_field, datagram.data() + 4, 4);
    if (time_field != static_cast<std::uint32_t>(static_cast<std::int64_t>(values.time * 1000000.0))) return false;
    for (int i = 0; i < 6; ++i) {
        float value = 0.0f;
        std::memcpy(&value, datagram.data() + 8 + 4 * i, 4);
        const double expected = i < 3 ? values.velocity[i] : values.angular_velocity[i - 3];
        if (value != static_cast<float>(expected)) return false;
    }
    return true;
}
