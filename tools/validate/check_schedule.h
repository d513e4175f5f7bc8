// When each check starts: up to `lanes` runs side by side, in the order of
// the list (a run is a check together with the chosen checks that share its
// body, judged from one process), except that
// - a check that measures time (`alone`) starts only when no other runs, and
//   nothing starts beside it;
// - until one check has seen the plug-in load and unload (or has ended), no
//   second check that loads it starts: a plug-in that does not load, or
//   hangs in its DllMain, is found once, not by every check after its own
//   wait;
// - once a check has shown that the plug-in cannot be loaded, or that
//   FreeLibrary hangs or crashes, the checks that need that are decided at
//   once as not run, naming the check that showed it; the others run without
//   unloading the plug-in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/validate/check_list.h"
#include "tools/validate/check_result.h"

namespace validate {

class check_schedule {
public:
    check_schedule(std::vector<const check_info*> checks, std::size_t lanes);

    // The next run to start now, marked as running; empty when none may
    // start until a running one ends or has seen the plug-in load and unload.
    std::vector<const check_info*> next();
    // A running check has seen LoadLibrary and FreeLibrary return.
    void load_and_unload_seen() noexcept { first_load_seen_ = true; }
    // A run ended with these results, one for each of its checks.
    void finished(const std::vector<const check_info*>& run, const std::vector<check_result>& results);
    // The checks decided without running since the last call, with their results.
    std::vector<std::pair<const check_info*, check_result>> take_not_run();
    // Decides every check that has not started as not run, with this reason
    // ("the run reached its limit of 3 min").
    void give_up(const std::string& reason);

    // Checks that still run should leave the plug-in loaded: its unload fails.
    bool unload_fails() const noexcept { return unload_ == known::fails; }
    std::size_t running() const noexcept { return running_; }
    bool done() const noexcept;

private:
    enum class known { unknown, fails };
    enum class state { waiting, running, ended };
    bool may_start(const check_info& check) const noexcept;
    void ended(const check_info& check, const check_result& result);
    void decide_not_run(unsigned need, const check_result& blocker, const check_info& shown_by);

    std::vector<const check_info*> checks_;
    std::vector<state> states_;
    std::size_t lanes_;
    std::size_t running_ = 0;
    bool alone_running_ = false;
    std::size_t loaders_running_ = 0;
    bool first_load_seen_ = false;
    known load_ = known::unknown;
    known unload_ = known::unknown;
    std::vector<std::pair<const check_info*, check_result>> not_run_;
};

// Whether a result shows that the plug-in cannot be loaded with its entry
// points, and that FreeLibrary cannot be survived (it hangs, or the process
// ends in it).
bool shows_load_failure(const check_result& result) noexcept;
bool shows_unload_failure(const check_result& result) noexcept;

}  // namespace validate
