// Whether a time over its limit is the plug-in's own slowness or a busy
// machine's. While a check times the plug-in it reads the processors' time
// (how much of it the machine was busy, and how much of that was this
// process's), this process's processor time during each timed call, and how
// long the host's thread was held up after short waits of its own (the wait
// probe). A time over its limit is then the plug-in's own when its calls
// used that much processor time themselves, when other programs left the
// processors mostly free, or when the machine held the host's thread up too
// seldom to explain it; otherwise the machine disturbed it, and the time is
// not judged.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace validate {

// The processors' time during a stretch of wall time, as the system counts it.
struct processor_use {
    double seconds = 0.0;  // the stretch's wall time
    double processors = 1.0;  // how many processors the machine has
    double busy_seconds = 0.0;  // processor time used by any program, this process's included
    double own_seconds = 0.0;  // processor time of this process: every thread of it
};

// The share of all the processors' time that other programs took, (busy -
// own) / (seconds x processors), within 0 to 1 (0 for a stretch of no time).
double others_share(const processor_use& use) noexcept;

// Other programs took a large share of the processors at this or above:
// on two processors, at least one processor's worth. Below it a thread that
// wants to run finds a processor free, and a slow call is the plug-in's.
inline constexpr double busy_share = 0.5;

// The wait probe's median delay at or above which the machine held the
// host's thread up, for a single call (Init, Shutdown): on a quiet machine
// the median is about 0.1 ms (a timer's overshoot, a round trip to the
// system); with other programs on every processor, a millisecond or more.
inline constexpr double held_up_median_ms = 0.5;

// What was read while a run of Updates, or one call, was timed.
struct timing_evidence {
    std::optional<processor_use> use;  // during the run or the call; nothing when it could not be read
    std::vector<double> call_cpu_ms;  // this process's processor time during each timed call, in their order
    // The largest step in which the system may count processor time; a
    // smaller one shows in the readings themselves (their smallest above 0).
    double cpu_step_ms = 15.625;
    std::vector<double> wait_delay_ms;  // how long each probe's short wait was held up past its due time
};

enum class time_verdict {
    within,  // the time is within its limit
    own,  // over it, and the plug-in's own doing
    disturbed,  // over it while other programs held the host's thread up: not judged
};

// Why a time over its limit is the plug-in's own.
enum class own_reason {
    none,
    computed,  // its calls used more processor time than the limit themselves
    machine_free,  // other programs left the processors mostly free
    waits_prompt,  // Updates: the machine held the host's thread up too seldom to explain them
    blocked,  // one call: it used no processor time to speak of and the machine held nothing up
};

struct time_judgement {
    time_verdict verdict = time_verdict::within;
    own_reason reason = own_reason::none;
    double others_share = 0.0;
    double cpu_per_slow_call_ms = 0.0;  // this process's processor time per call over the limit, on average
    std::size_t slow_calls = 0;  // calls over the limit
    double wait_delay_median_ms = 0.0;  // the probe's median delay (0 without probes)
    std::size_t waits = 0;  // the probe's waits
    // For waits_prompt on Updates: `calls_over` of `calls` Updates took the
    // budget and `excess_ms` more or longer, while only `waits_over` of the
    // probe's waits were held up by `excess_ms` or more.
    double excess_ms = 0.0;
    std::size_t calls = 0;
    std::size_t calls_over = 0;
    std::size_t waits_over = 0;
};

// A run of Updates, whose p99 must be within `budget_ms`. Over it, the run
// is the plug-in's own when the Updates over the budget used, on average,
// more processor time than the budget (with room for the step the system
// counts it in); when other programs took less than busy_share; or when, at
// some excess t, more Updates took budget + t than the Updates the p99
// allows plus what the machine explains: a sound Update's time is its own
// (within the budget at the p99) plus at most one hold-up like the probe's,
// so the Updates over budget + t beyond the allowance cannot outnumber, by
// more than chance, the probe's waits held up t or more, in proportion to
// how many of each there were (a one-sided exact test, at each of a few
// excesses). Otherwise it is disturbed.
time_judgement judge_update_run(const std::vector<double>& update_ms, double budget_ms,
                                const timing_evidence& evidence);

// One call over `limit_ms` (Init, Shutdown): its own when it used more
// processor time than the limit, when other programs took less than
// busy_share, or when it waited without computing (no processor time
// counted in it, this process's other threads' included) while the
// probe's waits around it were held up less than held_up_median_ms at the
// median: then nothing the machine did explains the wait, which the
// plug-in made itself (a sleep, a timeout). A call that computed, even a
// little, on a busy machine may have waited for its own threads' computing,
// which other programs slow down: disturbed. `evidence` holds that call's
// processor time alone.
time_judgement judge_call(double call_ms, double limit_ms, const timing_evidence& evidence);

// The machine held the host's thread up: other programs took at least
// busy_share of the processors, and the probe's waits were held up
// held_up_median_ms or more at the median.
bool machine_held_up(const timing_evidence& evidence);

// The probability that a binomial variable of `trials` and `probability`
// is at least `at_least`.
double binomial_tail(std::size_t trials, double probability, std::size_t at_least) noexcept;

// "95 %": a share as the reports give it, rounded down to a whole percent
// below 100 % (so that 99.7 % of the processors is not called all of them).
std::string percent_text(double share);

}  // namespace validate
