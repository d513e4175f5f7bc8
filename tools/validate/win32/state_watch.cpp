#include "tools/validate/win32/state_watch.h"

#include <windows.h>

#include "tools/validate/win32/child_state.h"
#include "tools/validate/win32/fault_capture.h"
#include "tools/validate/win32/import_hooks.h"
#include "tools/validate/win32/module_table.h"
#include "tools/validate/win32/process_resources.h"
#include "tools/validate/win32/process_state_reader.h"
#include "tools/validate/win32/warning_table.h"

namespace validate {

namespace {

std::string joined(const std::vector<state_change>& changes)
{
    std::string text;
    for (const state_change& change : changes) text += (text.empty() ? "" : "; ") + change.what;
    return text;
}

// What still points into the unloaded DLL besides the state's own pointers:
// the plug-in's registrations, window procedures, threads.
std::vector<std::string> code_left_in(module_range unloaded)
{
    std::vector<std::string> left = registrations_left(unloaded);
    for (HWND window : process_windows()) {
        const auto procedure =
            static_cast<std::uintptr_t>(IsWindowUnicode(window) ? GetWindowLongPtrW(window, GWLP_WNDPROC)
                                                                : GetWindowLongPtrA(window, GWLP_WNDPROC));
        if (unloaded.contains(procedure))
            left.push_back("the window " + describe_window(window) + " (window procedure at " +
                           describe_address(procedure) + ")");
    }
    // A thread that let go of the DLL itself (FreeLibraryAndExitThread) is
    // listed until it has ended: each gets a second. A crash in that time is
    // named as one in the wait after FreeLibrary.
    const auto threads_left = [&] {
        std::vector<thread_entry> found;
        for (const thread_entry& thread : process_threads().value_or(std::vector<thread_entry>{}))
            if (unloaded.contains(thread.start)) found.push_back(thread);
        return found;
    };
    std::vector<thread_entry> threads = threads_left();
    if (!threads.empty()) {
        begin_call(plugin_call::after_free_library);
        for (int wait = 0; wait < 20 && !threads.empty(); ++wait) {
            Sleep(50);
            threads = threads_left();
        }
        end_call();
    }
    for (const thread_entry& thread : threads)
        left.push_back("a thread started at " + describe_address(thread.start) + ", still there");
    return left;
}

}  // namespace

state_watch& process_watch() noexcept
{
    return the_child().watch;
}

void state_watch::start()
{
    read_process_state(initial_);
    unmaps_seen_ = plugin_unmaps();
    started_ = true;
}

void state_watch::before_call()
{
    if (started_ && !have_before_) read_process_state(before_);
    have_before_ = true;
}

void state_watch::after_call(plugin_call call)
{
    if (!started_) return;
    read_process_state(after_);
    for (const std::string& added : environment_added(before_, after_)) {
        note_warning(warning_kind::environment_added,
                     std::string(call_name(call)) + " added the environment variable " + added +
                         ", which every program the host starts and every DLL it loads then sees");
    }
    std::vector<state_change> changes = state_changes(before_, after_, initial_);
    if (changes.empty()) {
        std::swap(before_, after_);  // the next call's reading before it
        return;
    }
    bool host_thread = false;
    for (const state_change& change : changes) host_thread = host_thread || change.scope == state_scope::host_thread;
    if (!host_thread) {
        // A process-wide setting may be changed for a moment by a thread of
        // the plug-in: it counts when it stays changed.
        Sleep(50);
        read_process_state(after_);
        changes = state_changes(before_, after_, initial_);
        if (changes.empty()) {
            std::swap(before_, after_);
            return;
        }
    }
    fail(fault_kind::state_changed, std::string(call_name(call)) + " did not restore process state: " + joined(changes),
         call,
         host_thread ? nullptr
                     : "a process-wide setting: changed in the call, or meanwhile by a thread of the "
                       "plug-in");
}

void state_watch::after_unload()
{
    if (!started_ || plugin_unmaps() == unmaps_seen_) return;
    unmaps_seen_ = plugin_unmaps();
    const module_range unloaded = unloaded_plugin_range();
    read_process_state(after_);
    std::vector<std::string> left;
    for (const std::string& pointer : pointers_into(after_, unloaded.first, unloaded.end)) left.push_back(pointer);
    for (std::string& thing : code_left_in(unloaded)) left.push_back(std::move(thing));
    if (!left.empty()) {
        std::string text;
        for (const std::string& thing : left) text += (text.empty() ? "" : "; ") + thing;
        fail(fault_kind::dangling, "after FreeLibrary, these still point into the unloaded DLL: " + text,
             plugin_call::free_library, nullptr);
        return;
    }
    const std::vector<state_change> changes = state_changes(initial_, after_, initial_);
    if (!changes.empty()) {
        fail(fault_kind::state_changed,
             "after FreeLibrary, process state is not as it was before LoadLibrary: " + joined(changes),
             plugin_call::free_library, nullptr);
    }
}

void state_watch::fail(fault_kind kind, const std::string& summary, plugin_call call, const char* note)
{
    check_result result = failed(kind, summary, call, current_frame());
    if (note != nullptr) result.notes.emplace_back(note);
    report_fault(result);
}

}  // namespace validate
