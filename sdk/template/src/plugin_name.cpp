// @PLUGIN_NAME@: the four entry points of the Skarvel external DLL interface.
//
// What a host does, and what it may get wrong (the SDK's guide,
// docs/writing_a_plugin.md, says more):
// - it calls one entry point at a time, from one thread;
// - GetInterfaceVersion, at any time; then Init once, Update once per
//   simulation frame, Shutdown once, and unloads the DLL;
// - but some call Shutdown without Init, Shutdown twice, Init twice, Update
//   before Init or after Shutdown, or unload without Shutdown: each of these
//   must do no harm.
// The host waits for Update on every frame. Update must return within a
// fraction of a millisecond: no file or network I/O that can block, no
// waiting for a lock or a thread, no allocation per frame, no exception out.
// Work that may block or take long (a file, a device, a heavy computation)
// goes to a thread of the plug-in's own: the SDK's background_worker
// (<skarvel/shared/background/background_worker.h>) is started in Init, takes
// items from Update without waiting, and is stopped in Shutdown (the guide's
// "Work off the host's thread" shows it).
//
// Nothing here needs Windows, so the unit test builds this file natively.
//
// Made by the plug-in SDK's template: this file is yours, free of any
// condition (MIT No Attribution): use, change and license it as you choose.
#include "@PLUGIN_NAME@.h"

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_stream.h>
#include <skarvel/shared/interface/plugin_interface.h>

namespace {

// The messages this plug-in reads, by identifier: the hash of the name,
// computed when the program is built. The stream never carries names.
constexpr tm_msg_id aircraft_altitude("Aircraft.Altitude");

run_summary run;

// One message of a frame. Check its data type before calling a getter: a
// getter of another type reads the value area as the wrong type (and stops
// a build with assertions on, such as the unit test's).
void take_message(const tm_external_message& message) noexcept
{
    if (message.GetID() == aircraft_altitude.GetValue() && message.GetDataType() == tm_msg_data_type::Double) {
        const double altitude = message.GetDouble();
        if (!run.altitude_seen || altitude > run.highest_altitude) run.highest_altitude = altitude;
        run.altitude_seen = true;
    }
}

}  // namespace

const run_summary& current_run() noexcept
{
    return run;
}

extern "C" {

std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return plugin_interface::version;  // 2
}

// A new run. Start what the run needs here (open a file, a
// background_worker's start()), never at load (DllMain) and never in Update.
// The argument is the host's.
bool Skarvel_External_DLL_Init(void* /*host_data*/) noexcept
{
    run = run_summary{};
    return true;  // false: the plug-in cannot run
}

// One simulation frame. The third and fifth arguments are the host's.
void Skarvel_External_DLL_Update(double /*time_step*/, const std::uint8_t* stream, std::int32_t /*host_value*/,
                                 std::uint32_t message_count, void* /*host_data*/, std::int32_t* output1,
                                 std::int32_t* output2) noexcept
{
    // Both outputs are 0 on every call, whatever follows.
    if (output1 != nullptr) *output1 = 0;
    if (output2 != nullptr) *output2 = 0;
    // Every entry point is noexcept: an exception that reached the host
    // (which is not C++) would end it. Catch anything your code may throw
    // (std::bad_alloc from a container that grows, say) here, once.
    try {
        ++run.frames;
        if (stream == nullptr) return;  // no messages (a count of 0 may come with a null stream)
        // The stream holds message_count messages back to back, each a
        // 64-byte header and Size - 64 value bytes. read_message takes the
        // one at `position` and moves `position` past it; it allocates
        // nothing and keeps no state between calls.
        std::uint32_t position = 0;
        for (std::uint32_t i = 0; i < message_count; ++i) take_message(read_message(stream, position));
        run.messages += message_count;
    } catch (...) {
        // Nothing above throws; this is where code of your own that does
        // would end up. Drop the frame rather than the host.
    }
}

// The end of the run. Stop and close what Init started (a background_worker's
// stop() hands it what is still queued, then ends its thread); write a report
// here, if the plug-in writes one (to a folder of its own: the host's working
// folder may be anywhere). A Shutdown without Init, or a second one, must do
// nothing.
void Skarvel_External_DLL_Shutdown() noexcept {}

}  // extern "C"

// Each entry point has the type the interface gives it (a build error names
// the one that does not).
SKARVEL_CHECK_ENTRY_POINTS();
