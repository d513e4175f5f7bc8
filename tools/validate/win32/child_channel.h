// The memory that the validator shares with the child process running one
// check: the settings the validator gives it; where the check is (the call
// into the plug-in, the frame); and, at the end, what it found or how the
// process failed. The validator writes the settings before the child starts;
// the child writes the rest, which the validator reads while it waits and
// after the child has ended.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/validate/check_result.h"

namespace validate {

// Whether the call is a call into the plug-in that must return within the call limit.
bool is_timed_call(plugin_call call) noexcept;

struct channel_block {
    // Set by the validator before the child starts.
    LONG hang_limit_ms;  // a call that takes longer hangs
    LONG leave_loaded;  // FreeLibrary is known to fail: checks leave the plug-in loaded
    LONG64 memory_limit;  // bytes the process may commit beyond what it had when it began
    // Set by the child.
    volatile LONG started;  // the check has begun: until then a failure is the validator's
    volatile LONG call;  // a plugin_call
    volatile LONG64 frame;  // Updates begun so far
    volatile LONG64 calls;  // calls begun so far: the validator times each from when it sees it
    volatile LONG host_thread;  // the thread that calls the plug-in
    volatile LONG loads;  // LoadLibrary calls that succeeded
    volatile LONG unloads;  // FreeLibrary calls that returned
    volatile LONG slowest_call;  // a plugin_call: the one that took longest so far
    volatile LONG slowest_call_ms;
    volatile LONG exit_code_expected;  // 1 when expected_exit_code holds the code the process must end with
    volatile LONG expected_exit_code;
    volatile LONG result_length;  // bytes of `result`, set once they are written
    volatile LONG fault_length;  // bytes of `fault`, set once they are written
    char frame_note[256];  // what the frame being handed over is, zero-terminated
    char result[32768];
    char fault[8192];
};

// The validator's side: a block in an inheritable mapping for one child.
class channel_owner {
public:
    channel_owner();
    ~channel_owner();
    channel_owner(const channel_owner&) = delete;
    channel_owner& operator=(const channel_owner&) = delete;

    bool ok() const noexcept { return block_ != nullptr; }
    HANDLE handle() const noexcept { return mapping_; }  // passed to the child by number
    const channel_block& block() const noexcept { return *block_; }
    channel_block& settings() noexcept { return *block_; }

private:
    HANDLE mapping_ = nullptr;
    channel_block* block_ = nullptr;
};

// The child's side of the channel, part of the child's state: the block and
// the timing of the current call.
struct channel_view {
    channel_block* block = nullptr;
    std::atomic<double> call_started_at{0.0};  // on this process's clock; the watchdog reads it
    double slowest_seconds = 0.0;
};

// The child's side. Each function but write_results and set_frame_note is
// safe to call from an exception handler or the watchdog.
bool open_channel(std::uint64_t handle) noexcept;
void set_host_thread() noexcept;  // the calling thread is the one that calls the plug-in
channel_block* channel() noexcept;
bool is_host_thread() noexcept;
void begin_call(plugin_call call) noexcept;  // an Update also counts its frame
void end_call() noexcept;
plugin_call current_call() noexcept;
std::uint64_t current_frame() noexcept;
// Seconds the current call has run (0 between calls), on this process's clock.
double current_call_seconds() noexcept;
// The hang limit the validator set, in seconds.
double hang_limit_seconds() noexcept;
// Whether checks leave the plug-in loaded (its FreeLibrary is known to fail).
bool leave_loaded() noexcept;
// The bytes the process may commit beyond what it had when it began; 0: no limit.
std::uint64_t memory_limit() noexcept;
void count_load() noexcept;
void count_unload() noexcept;
void mark_started() noexcept;

// The run's results, each named by its check (a run of a body that several
// checks share has one for each), with the warnings the child noted.
void write_results(const std::vector<std::pair<std::string_view, check_result>>& results) noexcept;
// The fault's text, written into the block; its length is set once it is
// complete. The first fault is the one reported: the caller has claimed it.
result_writer fault_writer() noexcept;
void commit_fault(result_writer& fault) noexcept;
void expect_exit_code(std::uint32_t code) noexcept;
// Names the frame that the next Updates get ("Size 65535 alone"); a fault
// report carries it.
void set_frame_note(const std::string& note) noexcept;

}  // namespace validate
