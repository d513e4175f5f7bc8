// What the machine's load does to the host's thread, read while a check
// times the plug-in (judged by timing_judgement): the processors' time,
// machine-wide and this process's own, and the wait probe, a short wait of
// the host's thread whose lateness shows how long the machine holds it up.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/validate/timing_judgement.h"

namespace validate {

// The processors' time so far: the machine's busy time (GetSystemTimes:
// every processor, every program) and this process's (GetProcessTimes: every
// thread of it, the plug-in's own threads too), with the steady clock.
struct processor_reading {
    double wall_seconds = 0.0;
    double busy_seconds = 0.0;
    double own_seconds = 0.0;
};
std::optional<processor_reading> read_processors() noexcept;

// The processors' time between two readings; nothing unless both were read.
std::optional<processor_use> processor_use_between(const std::optional<processor_reading>& before,
                                                   const std::optional<processor_reading>& after) noexcept;

// The step in which the system counts a process's processor time
// (GetSystemTimeAdjustment's clock interval: 15.625 ms on Windows and under
// Wine, whose own step is 10 ms).
double cpu_step_ms() noexcept;

// The wait probe: a round trip to the system (a wait on an object that is
// set) and a wait of 1 ms on a high-resolution waitable timer, from the
// host's thread. Each delay is how much longer the two took than the 1 ms
// they should: on a quiet machine about 0.1 ms, with other programs on every
// processor several milliseconds. Without a high-resolution timer (Windows
// before 10, version 1803) there is no probe, and a time over its limit on a
// busy machine is not judged.
class wait_probe {
public:
    wait_probe();
    ~wait_probe();
    wait_probe(const wait_probe&) = delete;
    wait_probe& operator=(const wait_probe&) = delete;

    bool available() const noexcept { return timer_ != nullptr && set_ != nullptr; }
    // Probes up to `count` times, for no longer than `seconds` in all, and
    // adds each delay in milliseconds to `delays_ms`.
    void take(std::vector<double>& delays_ms, int count, double seconds);

private:
    void* timer_ = nullptr;
    void* set_ = nullptr;
};

// Probes a frame takes after its Update, within a quarter of the frame's
// time: enough waits that a hold-up the machine gives now and then shows in
// their count.
inline constexpr int probes_per_frame = 4;

// The figures for judging one timed call: the processors' time around it
// (this process's is the call's own processor time) and the probe's waits
// near it.
timing_evidence call_evidence(const std::optional<processor_use>& use, std::vector<double> wait_delay_ms);

// The machine's figures over `seconds` of handling messages, with the
// probe's waits between: for a check that waits for something to go and
// wants to know whether the machine held the host's thread up meanwhile.
timing_evidence watch_machine(double seconds);

// For a check that gave something a second to go and finds it still there:
// waits on, handling messages, for as long as the machine holds the host's
// thread up (machine_held_up, watched half a second at a time) and no longer
// than `most_seconds`, until `done` answers true; whether it did. A busy
// machine slows a thread on its way out; a thread that is never told to go
// stays however long one waits.
bool wait_out_busy_machine(const std::function<bool()>& done, double most_seconds);

// Why a time over its limit is the plug-in's own, as the reports say it:
// "it used 612 ms of processor time (this process's, its own threads' too),
// more than the limit by itself", "other programs used only 12 % of the
// processors", ...
std::string own_reason_text(const time_judgement& judgement);

// What the machine did to the host's thread: "other programs used 95 % of
// the processors and held the host's thread up 2.10 ms at the median wait".
std::string machine_text(const time_judgement& judgement);

}  // namespace validate
