// @PLUGIN_NAME@: a plug-in of the Skarvel external DLL interface. A host
// loads @PLUGIN_NAME@.dll and calls its four entry points; the unit test calls
// them too, natively, and reads what the plug-in kept of the run.
//
// Made by the plug-in SDK's template: this file is yours, free of any
// condition (MIT No Attribution): use, change and license it as you choose.
#pragma once

#include <cstdint>

// What the plug-in keeps of a run: replace it with your own.
struct run_summary {
    std::uint64_t frames = 0;  // Updates since Init
    std::uint64_t messages = 0;  // messages read in them
    bool altitude_seen = false;
    double highest_altitude = 0.0;  // the highest "Aircraft.Altitude", in metres
};

// The current run's summary (the last run's after Shutdown). Not exported:
// for the unit test, which calls it between entry point calls.
const run_summary& current_run() noexcept;

// The entry points, exported by name (skarvel_add_plugin lists them in the
// DLL's .def file).
extern "C" {
std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept;
bool Skarvel_External_DLL_Init(void* host_data) noexcept;
void Skarvel_External_DLL_Update(double time_step, const std::uint8_t* stream, std::int32_t host_value,
                                 std::uint32_t message_count, void* host_data, std::int32_t* output1,
                                 std::int32_t* output2) noexcept;
void Skarvel_External_DLL_Shutdown() noexcept;
}
