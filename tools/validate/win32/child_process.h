// Runs one check in a child process (with the checks that share its body:
// one run), this program started again with --child, in a working folder of
// its own, watched until it ends. The child's
// own watchdog reports a call that hangs; the validator ends the child itself
// only when that report does not come, when the check outlives its limit, or
// when the run reaches its limit. Ending a child is bounded: one that does not
// end is reported and left.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/validate/check_list.h"
#include "tools/validate/check_result.h"
#include "tools/validate/child_verdict.h"
#include "tools/validate/validate_options.h"
#include "tools/validate/win32/child_channel.h"

namespace validate {

// This program's own path, which a check's child and the naming of frames
// start again.
std::string own_path();

// The default time a call into the plug-in may take before it counts as a hang.
inline constexpr double default_hang_limit_seconds = 10.0;
// A check's own limit: far above any check of a plug-in within its limits.
inline constexpr double check_limit_seconds = 60.0;

struct child_settings {
    double hang_limit_seconds = default_hang_limit_seconds;
    bool leave_loaded = false;  // FreeLibrary is known to fail
    std::string folder;  // the working folder
    double run_limit_seconds = 0.0;  // the whole run's, named when it ends the child
    std::uint64_t memory_limit = 0;  // bytes the child may take beyond what it had when it began; 0: none
};

class child_check {
public:
    // Starts the child; a child that cannot be started has ended at once,
    // with the validator's error as its result.
    child_check(const validate_options& options, std::vector<const check_info*> run, const child_settings& settings);
    ~child_check();
    child_check(const child_check&) = delete;
    child_check& operator=(const child_check&) = delete;

    const std::vector<const check_info*>& run() const noexcept { return run_; }
    HANDLE process() const noexcept { return process_; }
    // LoadLibrary and FreeLibrary have returned in the child.
    bool load_and_unload_seen() const noexcept
    {
        return channel_.ok() && channel_.block().loads > 0 && channel_.block().unloads > 0;
    }
    // Looks at the child at `now`, ending it when it has passed a limit
    // (`run_deadline` is the run's); true once it has ended.
    bool poll(double now, double run_deadline);
    // What each check of the run found, once it has ended.
    std::vector<check_result> results() const;

private:
    void end_it(ended_by ender, double limit);

    std::vector<const check_info*> run_;
    child_settings settings_;
    channel_owner channel_;
    HANDLE process_ = nullptr;
    std::uint32_t process_id_ = 0;
    std::optional<check_result> error_;  // the validator's own, when the child could not run
    double started_ = 0.0;
    double seconds_ = 0.0;
    LONG64 seen_calls_ = -1;
    double call_seen_at_ = 0.0;
    bool ended_ = false;
    child_ending ending_;
};

}  // namespace validate
