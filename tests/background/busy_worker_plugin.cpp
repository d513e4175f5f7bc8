// A plug-in whose background worker is always busy: each frame handed to it
// takes the worker a few milliseconds, so the queue is full and the worker
// inside its handler whenever the host unloads the DLL or exits without
// Shutdown. The validator's lifecycle checks judge what is left running.
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include <skarvel/shared/background/background_worker.h>
#include <skarvel/shared/interface/plugin_interface.h>

namespace {

struct frame_copy {
    std::vector<std::uint8_t> head;
};

background_worker<frame_copy> worker;
std::uint64_t checksum = 0;  // the worker's

void handle(frame_copy& frame)
{
    for (std::uint8_t byte : frame.head) checksum = checksum * 31 + byte;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
}

}  // namespace

extern "C" {

std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return plugin_interface::version;
}

bool Skarvel_External_DLL_Init(void*) noexcept
{
    return worker.start(handle, {32, std::chrono::milliseconds(5)}, [](frame_copy& frame) { frame.head.reserve(64); });
}

void Skarvel_External_DLL_Update(double, const std::uint8_t* stream, std::int32_t, std::uint32_t message_count, void*,
                                 std::int32_t* output1, std::int32_t* output2) noexcept
{
    if (output1 != nullptr) *output1 = 0;
    if (output2 != nullptr) *output2 = 0;
    if (message_count == 0 || stream == nullptr) return;
    worker.post([&](frame_copy& frame) { frame.head.assign(stream, stream + 64); });  // a header is whole
}

void Skarvel_External_DLL_Shutdown() noexcept
{
    worker.stop();
}

}  // extern "C"
