// Turns a fault of the plug-in inside the child process into the check's
// failure: an exception that nothing handles (a crash, or a C++ exception
// that left the plug-in) and any access violation on the guarded stream are
// written to the channel with the call and frame the plug-in was in, the
// faulting address as module+offset and the plug-in's frame nearest to it;
// then the process ends with the exception code.
#pragma once

#include <windows.h>

namespace validate {

// Installs the handlers; `plugin` names the module whose frames are looked
// for on the faulting stack (it may be set later, after LoadLibrary).
void install_fault_capture() noexcept;
void set_plugin_module(HMODULE plugin) noexcept;

}  // namespace validate
