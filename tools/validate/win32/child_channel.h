// The memory that the validator shares with the child process running one
// check: where the check is (the call into the plug-in, the frame) and, at
// the end, what it found or how the process failed. The child writes, the
// validator reads while it waits and after the child has ended.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "tools/validate/check_result.h"

namespace validate {

enum class plugin_call : LONG {
    none,
    load_library,
    get_interface_version,
    init,
    update,
    shutdown,
    free_library,
    after_free_library,  // not a call: the wait after FreeLibrary
    process_exit,        // not a call: the host's exit without Shutdown
};

// "Init", "Update", "FreeLibrary", "the wait after FreeLibrary"...; empty for none.
const char* call_name(plugin_call call) noexcept;
// Whether the call is a call into the plug-in that must return within the call limit.
bool is_timed_call(plugin_call call) noexcept;

struct channel_block {
    volatile LONG call;                // a plugin_call
    volatile LONG64 frame;             // Updates begun so far
    volatile LONG64 calls;             // calls begun so far: the validator times each from when it sees it
    volatile LONG host_thread;         // the thread that calls the plug-in
    volatile LONG exit_code_expected;  // 1 when expected_exit_code holds the code the process must end with
    volatile LONG expected_exit_code;
    volatile LONG result_length;  // bytes of `result`, set once they are written
    volatile LONG fault_length;   // bytes of `fault`, set once they are written
    char frame_note[256];         // what the frame being handed over is, zero-terminated
    char result[32768];
    char fault[4096];
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

private:
    HANDLE mapping_ = nullptr;
    channel_block* block_ = nullptr;
};

// The child's side. Each function is safe to call from an exception handler.
bool open_channel(std::uint64_t handle) noexcept;
void set_host_thread() noexcept;  // the calling thread is the one that calls the plug-in
channel_block* channel() noexcept;
void begin_call(plugin_call call) noexcept;  // an Update also counts its frame
void end_call() noexcept;
void write_result(const check_result& result);
void write_fault_text(const char* text, std::size_t length) noexcept;
void expect_exit_code(std::uint32_t code) noexcept;
// Names the frame that the next Updates get ("Size 65535 alone"); a fault
// report carries it.
void set_frame_note(const std::string& note) noexcept;

}  // namespace validate
