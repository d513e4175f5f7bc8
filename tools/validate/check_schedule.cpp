#include "tools/validate/check_schedule.h"

#include <algorithm>

namespace validate {

namespace {

// The kinds of failure that end the process in the call.
bool ends_the_process(fault_kind kind) noexcept
{
    switch (kind) {
        case fault_kind::crash:
        case fault_kind::stack_overflow:
        case fault_kind::cpp_exception:
        case fault_kind::abort_called:
        case fault_kind::process_ended:
        case fault_kind::hang: return true;
        default: return false;
    }
}

// "LoadLibrary does not return", "FreeLibrary ends the process (crash)".
std::string what_fails(const check_result& result)
{
    if (result.kind == fault_kind::not_loadable) return "the plug-in cannot be loaded with its entry points";
    const std::string call(call_name(result.call));
    if (result.kind == fault_kind::hang) return call + " does not return";
    return call + " ends the process (" + std::string(kind_name(result.kind)) + ")";
}

}  // namespace

bool shows_load_failure(const check_result& result) noexcept
{
    if (result.result != outcome::failed) return false;
    return result.kind == fault_kind::not_loadable ||
           (result.call == plugin_call::load_library && ends_the_process(result.kind));
}

bool shows_unload_failure(const check_result& result) noexcept
{
    return result.result == outcome::failed && result.call == plugin_call::free_library &&
           ends_the_process(result.kind);
}

check_schedule::check_schedule(std::vector<const check_info*> checks, std::size_t lanes)
    : checks_(std::move(checks)), states_(checks_.size(), state::waiting), lanes_(lanes < 1 ? 1 : lanes)
{
}

bool check_schedule::may_start(const check_info& check) const noexcept
{
    if (check.has(alone)) return running_ == 0;
    // The first load and unload are watched by one check alone.
    return !check.has(loads) || first_load_seen_ || loaders_running_ == 0;
}

std::vector<const check_info*> check_schedule::next()
{
    if (running_ >= lanes_ || alone_running_) return {};
    for (std::size_t i = 0; i < checks_.size(); ++i) {
        if (states_[i] != state::waiting || !may_start(*checks_[i])) continue;
        std::vector<const check_info*> run = sharing_body(*checks_[i], checks_);
        for (std::size_t k = 0; k < checks_.size(); ++k)
            if (std::find(run.begin(), run.end(), checks_[k]) != run.end()) states_[k] = state::running;
        ++running_;
        alone_running_ = checks_[i]->has(alone);
        if (checks_[i]->has(loads)) ++loaders_running_;
        return run;
    }
    return {};
}

void check_schedule::finished(const std::vector<const check_info*>& run, const std::vector<check_result>& results)
{
    if (run.empty()) return;
    --running_;
    alone_running_ = false;
    if (run.front()->has(loads)) --loaders_running_;
    for (std::size_t i = 0; i < run.size() && i < results.size(); ++i) ended(*run[i], results[i]);
}

void check_schedule::ended(const check_info& check, const check_result& result)
{
    for (std::size_t i = 0; i < checks_.size(); ++i)
        if (checks_[i] == &check) states_[i] = state::ended;
    if (load_ != known::fails && shows_load_failure(result)) {
        load_ = known::fails;
        decide_not_run(loads, result, check);
    } else if (unload_ != known::fails && shows_unload_failure(result)) {
        unload_ = known::fails;
        decide_not_run(unloads, result, check);
    }
    // Whatever it showed is known now.
    if (check.has(loads)) first_load_seen_ = true;
}

void check_schedule::decide_not_run(unsigned need, const check_result& blocker, const check_info& shown_by)
{
    for (std::size_t i = 0; i < checks_.size(); ++i) {
        if (states_[i] != state::waiting || !checks_[i]->has(need)) continue;
        states_[i] = state::ended;
        check_result result =
            not_run("not run: " + what_fails(blocker) + ", as " + std::string(shown_by.name) + " showed");
        result.call = blocker.call;
        not_run_.emplace_back(checks_[i], std::move(result));
    }
}

void check_schedule::give_up(const std::string& reason)
{
    for (std::size_t i = 0; i < checks_.size(); ++i) {
        if (states_[i] != state::waiting) continue;
        states_[i] = state::ended;
        not_run_.emplace_back(checks_[i], not_run("not run: " + reason));
    }
}

std::vector<std::pair<const check_info*, check_result>> check_schedule::take_not_run()
{
    return std::exchange(not_run_, {});
}

bool check_schedule::done() const noexcept
{
    for (state s : states_)
        if (s != state::ended) return false;
    return true;
}

}  // namespace validate
