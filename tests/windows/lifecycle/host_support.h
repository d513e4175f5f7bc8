// What the plug-in test host needs besides the scenarios: checks, waiting,
// the plug-in's exports, its window, frames to feed it and a receiver for
// its datagrams.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <skarvel/shared/interface/plugin_interface.h>

#include "tests/support/private_network.h"
#include "tools/common/win32/plugin_library.h"

// ---- checks ------------------------------------------------------------

// Prints a failed check with its place; the scenario goes on, and the host
// exits non-zero at the end.
bool check(bool ok, const char* text, const char* file, int line);
#define HOST_CHECK(condition) check(static_cast<bool>(condition), #condition, __FILE__, __LINE__)
int failure_count();

// A figure worth reading in the test log ("timing: name = 12.3 ms").
void report_ms(const char* name, double ms);

// ---- time --------------------------------------------------------------

using host_clock = std::chrono::steady_clock;
double ms_since(host_clock::time_point start);

// Polls `condition` every 5 ms until it holds or `timeout_ms` has passed,
// pumping the host thread's own messages meanwhile.
bool wait_until(const std::function<bool()>& condition, int timeout_ms);

// ---- the plug-in -------------------------------------------------------

constexpr char plugin_file_name[] = "skarvel_external_dll.dll";

struct plugin_library {
    tools::plugin_library library;
    HMODULE module = nullptr;
    plugin_interface::init_function* init = nullptr;
    plugin_interface::update_function* update = nullptr;
    plugin_interface::shutdown_function* shutdown = nullptr;

    // The library and its exports; false (and a failed check) when it does not load or an
    // export is missing.
    bool load(const std::string& path);
    // FreeLibrary, forgetting the exports.
    void unload();
};

// True while the plug-in's module is mapped into the process.
bool plugin_mapped();

// ---- the display window ------------------------------------------------

constexpr char display_class[] = "skarvel_external_dll_sample";
constexpr char display_caption[] = "Skarvel External DLL Sample";

HWND find_display_window();  // FindWindowA by class and caption
int count_display_windows();  // windows of the class in this process
// Waits for a visible display window; null after `timeout_ms`.
HWND wait_for_visible_window(int timeout_ms);
DWORD window_thread(HWND window);

// ---- frames ------------------------------------------------------------

struct motion_values {
    double time = 0.0;
    double velocity[3] = {};
    double angular_velocity[3] = {};
};

// A stream of three messages: Simulation.Time, Aircraft.Velocity,
// Aircraft.AngularVelocity, as the host lays them out.
std::vector<std::uint8_t> motion_frame(const motion_values& values);
constexpr std::uint32_t motion_frame_count = 3;

// ---- datagrams ---------------------------------------------------------

// A UDP receiver on 0.0.0.0:50001.
class datagram_receiver {
public:
    datagram_receiver();
    ~datagram_receiver();
    datagram_receiver(const datagram_receiver&) = delete;
    datagram_receiver& operator=(const datagram_receiver&) = delete;

    bool ready() const { return socket_ != INVALID_SOCKET; }
    // The next datagram's bytes, or nothing after `timeout_ms`.
    bool receive(std::vector<std::uint8_t>& datagram, int timeout_ms);
    void drain();

private:
    SOCKET socket_ = INVALID_SOCKET;
};

// True when `datagram` is the motion datagram of `values`.
bool is_motion_datagram(const std::vector<std::uint8_t>& datagram, const motion_values& values);
