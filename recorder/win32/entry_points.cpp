// skarvel_recorder.dll: a plug-in that records every frame the host sends,
// for `host --replay` and the validator to send again (flight_recorder.h has
// where and how). Built as any author's plug-in is (skarvel_add_plugin), on
// the SDK's background worker.
//
// Init answers false, and records nothing, when its folder cannot be made or
// written, or its disk is nearly full: a recorder that cannot record has
// nothing to do, and a host that logs a plug-in's refusal tells the user at
// once, not after the flight. The reason goes to the system's debug output.
#include <cstdint>
#include <string>

#include <skarvel/shared/interface/plugin_interface.h>

#include "recorder/flight_recorder.h"
#include "recorder/recording_files.h"

namespace {

recorder::flight_recorder flights;

void say(const std::string& note) noexcept
{
    try {
        recorder::debug_note("skarvel_recorder: " + note);
    } catch (...) {
    }
}

}  // namespace

extern "C" {

std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return plugin_interface::version;
}

bool Skarvel_External_DLL_Init(void* /*host_data*/) noexcept
{
    try {
        if (flights.running()) return true;  // a second Init: the recording goes on
        flights.on_note(say);
        std::string error;
        const auto folder = recorder::recordings_folder(error);
        if (!folder || !flights.start(*folder, recorder::local_time_now(), error)) {
            say("not recording: " + error);
            return false;
        }
        say("recording to " + flights.path());
        return true;
    } catch (...) {
        return false;
    }
}

void Skarvel_External_DLL_Update(double time_step, const std::uint8_t* stream, std::int32_t /*host_value*/,
                                 std::uint32_t message_count, void* /*host_data*/, std::int32_t* output1,
                                 std::int32_t* output2) noexcept
{
    if (output1 != nullptr) *output1 = 0;
    if (output2 != nullptr) *output2 = 0;
    flights.record(time_step, stream, message_count);
}

void Skarvel_External_DLL_Shutdown() noexcept
{
    flights.stop();
}

}  // extern "C"

static_assert(plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_GetInterfaceVersion),
                                                    plugin_interface::get_interface_version_function>);
static_assert(
    plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_Init), plugin_interface::init_function>);
static_assert(
    plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_Update), plugin_interface::update_function>);
static_assert(plugin_interface::defines_entry_point<decltype(Skarvel_External_DLL_Shutdown),
                                                    plugin_interface::shutdown_function>);
