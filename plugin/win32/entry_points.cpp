// The exported entry points and the load hook. The export names come from
// the .def file that skarvel_add_plugin makes; x64 has one calling
// convention, so they carry no decoration. No exception leaves any of them:
// the host is not C++.
#include <windows.h>

#include <cstdint>

#include <skarvel/shared/interface/plugin_interface.h>

#include "display/win32/display_thread.h"
#include "plugin/frame_update.h"
#include "plugin/win32/process_objects.h"

// Everything the exports and the load hook call is noexcept, so there is
// nothing to catch here. Memory running out in the frame update is handled
// where it happens, as that decides what becomes of the frame.
extern "C" {

// 2 whether the host reads the result as a 32-bit or a 64-bit integer.
std::int64_t Skarvel_External_DLL_GetInterfaceVersion() noexcept
{
    return plugin_interface::version;
}

// The argument is the host's and is not read. Starts the display window and
// returns without waiting for it; false only when no display thread could be
// started.
bool Skarvel_External_DLL_Init(void* /*host_data*/) noexcept
{
    return plugin.display.start(plugin.module_handle, plugin.frame_handoff, plugin.picture);
}

// The third and fifth arguments are the host's and are not read.
void Skarvel_External_DLL_Update(double time_step, const std::uint8_t* stream, std::int32_t /*host_value*/,
                                 std::uint32_t message_count, void* /*host_data*/, std::int32_t* output1,
                                 std::int32_t* output2) noexcept
{
    update_frame({plugin.frame_list, plugin.frame_handoff, plugin.motion_sender}, time_step, stream, message_count,
                 output1, output2);
}

// Ends the display window, if one runs, and closes the broadcast socket; the
// next Update opens a new one.
void Skarvel_External_DLL_Shutdown() noexcept
{
    plugin.display.stop();
    plugin.motion_sender.close();
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) noexcept
{
    if (reason == DLL_PROCESS_ATTACH) {
        plugin.module_handle = module;
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary, not process exit. No display thread runs now: each
        // holds a reference on the library until its end.
        plugin.display.release();
        UnregisterClassA(display_class_name, module);
    }
    return TRUE;
}

}  // extern "C"

// Each export has the type the interface gives it.
SKARVEL_CHECK_ENTRY_POINTS();
