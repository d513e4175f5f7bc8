// The host's calls into the plug-in, watched so that a plug-in that crashes
// ends the run with a report instead of a debugger. The call in progress
// (LoadLibrary, Init, Update at frame n...) is known at every moment; a
// fault that no one handles, on any thread, is reported on one line with
// that call, the fault and where it happened, and the host ends at once with
// status 1, before Wine's debugger or Windows' error reporting could start.
// A C++ exception that leaves the plug-in is reported alike.
#pragma once

#include <cstdint>

#include <skarvel/shared/interface/plugin_interface.h>

namespace host {

// Installs the report, on the host's thread, once at the start of main().
void report_crashes() noexcept;

// Marks the call the host's thread is in from now on ("LoadLibrary"), or
// none. A call that runs the plug-in's DllMain holds the loader lock, which
// keeps every new thread, the one that hears Ctrl-C among them, from
// starting: such a call is ended as a hang after 10 s, with no request.
void entering(const char* call, bool runs_dll_main = false) noexcept;
void left() noexcept;

// Entry points that mark each call and count Update's frames, calling the
// plug-in's `plugin`, which must stay loaded while they are used.
plugin_interface::entry_points watched(const plugin_interface::entry_points& plugin) noexcept;

}  // namespace host
