#include "tools/validate/win32/load_readings.h"

#include <windows.h>

#include <cstdint>
#include <utility>

#include "tools/validate/win32/check_support.h"
#include "tools/validate/win32/plugin_under_test.h"

// Windows 10, version 1803, and later (older MinGW-w64 headers lack it).
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace validate {

namespace {

double seconds_of(const FILETIME& time) noexcept
{
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) * 1e-7;
}

double processor_count() noexcept
{
    const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return count > 0 ? static_cast<double>(count) : 1.0;
}

}  // namespace

std::optional<processor_reading> read_processors() noexcept
{
    FILETIME idle, kernel, user, created, exited, own_kernel, own_user;
    if (!GetSystemTimes(&idle, &kernel, &user)) return std::nullopt;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &own_kernel, &own_user)) return std::nullopt;
    processor_reading reading;
    reading.wall_seconds = now_seconds();
    // The system's kernel time includes the processors' idle time.
    reading.busy_seconds = seconds_of(kernel) + seconds_of(user) - seconds_of(idle);
    reading.own_seconds = seconds_of(own_kernel) + seconds_of(own_user);
    return reading;
}

std::optional<processor_use> processor_use_between(const std::optional<processor_reading>& before,
                                                   const std::optional<processor_reading>& after) noexcept
{
    if (!before || !after) return std::nullopt;
    processor_use use;
    use.seconds = after->wall_seconds - before->wall_seconds;
    use.processors = processor_count();
    use.busy_seconds = after->busy_seconds - before->busy_seconds;
    use.own_seconds = after->own_seconds - before->own_seconds;
    return use;
}

double cpu_step_ms() noexcept
{
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = FALSE;
    if (GetSystemTimeAdjustment(&adjustment, &increment, &disabled) && increment > 0)
        return static_cast<double>(increment) * 1e-4;
    return 15.625;
}

wait_probe::wait_probe()
{
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    set_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
}

wait_probe::~wait_probe()
{
    if (timer_ != nullptr) CloseHandle(timer_);
    if (set_ != nullptr) CloseHandle(set_);
}

void wait_probe::take(std::vector<double>& delays_ms, int count, double seconds)
{
    if (!available()) return;
    const double end = now_seconds() + seconds;
    for (int i = 0; i < count && now_seconds() < end; ++i) {
        LARGE_INTEGER due;
        due.QuadPart = -10000;  // 1 ms from now, in 100 ns
        const double start = now_seconds();
        if (WaitForSingleObject(set_, 0) != WAIT_OBJECT_0) return;
        if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) return;
        if (WaitForSingleObject(timer_, 1000) != WAIT_OBJECT_0) return;  // never hangs the host's thread
        const double late_ms = (now_seconds() - start) * 1000.0 - 1.0;
        delays_ms.push_back(late_ms > 0.0 ? late_ms : 0.0);
    }
}

timing_evidence call_evidence(const std::optional<processor_use>& use, std::vector<double> wait_delay_ms)
{
    timing_evidence evidence;
    evidence.use = use;
    evidence.call_cpu_ms = {use ? use->own_seconds * 1000.0 : 0.0};
    evidence.cpu_step_ms = cpu_step_ms();
    evidence.wait_delay_ms = std::move(wait_delay_ms);
    return evidence;
}

timing_evidence watch_machine(double seconds)
{
    timing_evidence evidence;
    wait_probe probe;
    const std::optional<processor_reading> before = read_processors();
    const double end = now_seconds() + seconds;
    while (now_seconds() < end) {
        pump_for(0.01);
        probe.take(evidence.wait_delay_ms, 1, 0.005);
    }
    evidence.use = processor_use_between(before, read_processors());
    return evidence;
}

bool wait_out_busy_machine(const std::function<bool()>& done, double most_seconds)
{
    const double end = now_seconds() + most_seconds;
    while (now_seconds() < end) {
        const bool busy = machine_held_up(watch_machine(0.5));
        if (done()) return true;
        if (!busy) return false;
    }
    return done();
}

std::string own_reason_text(const time_judgement& judgement)
{
    const bool updates = judgement.calls > 1;
    switch (judgement.reason) {
        case own_reason::computed:
            return std::string(updates ? "the Updates over the budget" : "it") + " used " +
                   ms_text(judgement.cpu_per_slow_call_ms) + " of processor time" +
                   (updates ? " each on average" : "") + " (this process's, its own threads' too), more than the " +
                   (updates ? "budget by themselves" : "limit by itself");
        case own_reason::machine_free:
            return "other programs used only " + percent_text(judgement.others_share) + " of the processors";
        case own_reason::waits_prompt:
            return "other programs used " + percent_text(judgement.others_share) + " of the processors, but " +
                   std::to_string(judgement.calls_over) + " of " + std::to_string(judgement.calls) +
                   " Updates took the budget and " + ms_text(judgement.excess_ms) + " more while only " +
                   std::to_string(judgement.waits_over) + " of " + std::to_string(judgement.waits) +
                   " short waits of the host's thread were held up " + ms_text(judgement.excess_ms) + " or more";
        case own_reason::blocked:
            return "it waited, computing nothing (no processor time counted), while the host's short waits were "
                   "held up only " +
                   ms_text(judgement.wait_delay_median_ms) + " at the median though other programs used " +
                   percent_text(judgement.others_share) + " of the processors: a wait of its own (a sleep, a timeout)";
        case own_reason::none: break;
    }
    return {};
}

std::string machine_text(const time_judgement& judgement)
{
    std::string text = "other programs used " + percent_text(judgement.others_share) + " of the processors";
    if (judgement.waits > 0)
        text += " and held the host's thread up " + ms_text(judgement.wait_delay_median_ms) + " at the median wait";
    return text;
}

}  // namespace validate
