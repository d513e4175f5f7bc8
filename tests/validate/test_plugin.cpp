// A minimal sound plug-in of the interface, built once as it is and once for
// each defect that plug-in authors really make (TEST_PLUGIN_DEFECT names
// it). The validator must pass the sound one and flag each defect with the
// check meant for it.
//
// The sound plug-in: Init starts a worker thread that holds a reference on
// the library, Update reads the stream within the Size of each message and
// sets both outputs to 0, Shutdown stops and joins the worker. No exception
// leaves an entry point.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <skarvel/shared/interface/plugin_interface.h>

namespace {

enum class defect {
    none,
    throws_in_init,            // a C++ exception leaves Init
    crash_in_update,           // a null pointer written through in frame 30
    hang_in_shutdown,          // Shutdown waits for a worker that was never told to stop
    thread_left,               // Shutdown leaves the worker running
    window_left,               // Init makes a window that Shutdown never destroys
    thread_running_at_unload,  // the worker holds no reference; Shutdown does not wait for it
    handle_per_frame,          // an event handle made in every Update, never closed
    socket_per_frame,          // a socket made in every Update, never closed
    memory_per_frame,          // 64 bytes allocated in every Update, never freed
    reads_past_stream,         // copies a whole 128-byte record whatever the Size
    writes_into_stream,        // ends String8 values with a zero in the host's stream
    slow_init,                 // Init does a second and a half of work
    update_stutter,            // every 20th Update takes 25 ms
    runtime_dependency,        // linked against the C++ runtime DLL
    wrong_version,             // answers an older interface version
    missing_export,            // Shutdown not exported
};

#ifndef TEST_PLUGIN_DEFECT
#define TEST_PLUGIN_DEFECT none
#endif
constexpr defect flaw = defect::TEST_PLUGIN_DEFECT;

HANDLE worker = nullptr;
HANDLE stop_worker = nullptr;
std::atomic<std::uint64_t> frames{0};
std::atomic<std::uint64_t> worker_ticks{0};
HWND window = nullptr;
std::string last_error;  // keeps the C++ runtime in use

// The worker holds a reference on this library and drops it as its last
// act, so that its code stays loaded while it runs, even when the host
// unloads the library without Shutdown.
DWORD WINAPI worker_main(void* library)
{
    while (WaitForSingleObject(stop_worker, 10) == WAIT_TIMEOUT) ++worker_ticks;
    if constexpr (flaw == defect::thread_running_at_unload) {
        Sleep(300);  // "flushing" after the stop, with no reference held
        return 0;
    }
    FreeLibraryAndExitThread(static_cast<HMODULE>(library), 0);
}

bool start()
{
    if (worker != nullptr) return true;  // already running
    if constexpr (flaw == defect::throws_in_init) throw std::runtime_error("no configuration file");
    if constexpr (flaw == defect::slow_init) Sleep(1500);
    if constexpr (flaw == defect::window_left) {
        WNDCLASSA window_class{};
        window_class.lpfnWndProc = DefWindowProcA;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "test_plugin_window";
        RegisterClassA(&window_class);
        window = CreateWindowA("test_plugin_window", "test plug-in", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                               nullptr, window_class.hInstance, nullptr);
    }
    HMODULE library = nullptr;
    if constexpr (flaw != defect::thread_running_at_unload) {
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<const char*>(&worker_main),
                           &library);
    }
    stop_worker = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    worker = CreateThread(nullptr, 0, worker_main, library, 0, nullptr);
    if (worker == nullptr && library != nullptr) FreeLibrary(library);
    return worker != nullptr;
}

void stop()
{
    if (worker == nullptr) return;
    if constexpr (flaw == defect::thread_left) return;
    if constexpr (flaw == defect::hang_in_shutdown) {
        WaitForSingleObject(worker, INFINITE);  // nobody told it to stop
    }
    SetEvent(stop_worker);
    if constexpr (flaw != defect::thread_running_at_unload) WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    CloseHandle(stop_worker);
    worker = stop_worker = nullptr;
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
        if constexpr (flaw == defect::reads_past_stream) {
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
        if constexpr (flaw == defect::writes_into_stream) {
            if (record[25] == 7 && size > 64) const_cast<std::uint8_t*>(message)[size - 1] = 0;
        }
        frame_list.push_back(kept);
        position += extent;
    }
    if (sum != sum) last_error = "a value is not a number";
}

void update(const std::uint8_t* stream, std::uint32_t count, std::int32_t* output1, std::int32_t* output2)
{
    const std::uint64_t frame = ++frames;
    if constexpr (flaw == defect::crash_in_update) {
        static int* volatile nowhere = nullptr;
        if (frame == 30) *nowhere = 1;
    }
    if constexpr (flaw == defect::handle_per_frame) CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if constexpr (flaw == defect::socket_per_frame) socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if constexpr (flaw == defect::memory_per_frame) {
        // A copy of the frame's first bytes, kept for "later" and never freed.
        static std::uint8_t* volatile kept = nullptr;
        kept = new std::uint8_t[64];
        if (stream != nullptr && count > 0) std::memcpy(kept, stream, 64);
    }
    if constexpr (flaw == defect::update_stutter) {
        if (frame % 20 == 0) Sleep(25);
    }
    if (count > 0 && stream != nullptr) read_frame(stream, count);
    *output1 = 0;
    *output2 = 0;
}

}  // namespace

#define TEST_PLUGIN_EXPORT extern "C" __declspec(dllexport)

TEST_PLUGIN_EXPORT std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return flaw == defect::wrong_version ? 1 : plugin_interface::version;
}

TEST_PLUGIN_EXPORT bool Skarvel_External_DLL_Init(void*)
{
    if constexpr (flaw == defect::throws_in_init) return start();  // the exception goes to the host
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
