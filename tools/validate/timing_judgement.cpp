#include "tools/validate/timing_judgement.h"

#include <algorithm>
#include <cmath>

namespace validate {

namespace {

// The chance at which a plug-in's calls are taken to have used more
// processor time than the limit when they did not (Hoeffding's bound on the
// mean of readings each within one step of the truth).
constexpr double cpu_doubt = 1e-3;

// The chance, at each excess, at which the Updates over the budget are taken
// to outnumber what the machine explains when they do not. There are a dozen
// excesses: a sound plug-in is called slow in about one run of a thousand
// even if every one of its Updates were held up like the probe's waits, and
// far more seldom as it is (a short Update is held up less often than a
// wait).
constexpr double waits_doubt = 1e-4;

// The excesses over the budget at which the Updates and the probe's waits
// are compared, in milliseconds.
constexpr double excesses_ms[] = {0.25, 0.5, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512};

double median(std::vector<double> values)
{
    if (values.empty()) return 0.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The common start of both judgements: the machine's figures, and whether
// the slow calls' processor time alone is over the limit.
time_judgement start_judgement(const std::vector<double>& call_ms, double limit_ms, const timing_evidence& evidence)
{
    time_judgement judgement;
    judgement.others_share = evidence.use ? others_share(*evidence.use) : 0.0;
    judgement.wait_delay_median_ms = median(evidence.wait_delay_ms);
    judgement.waits = evidence.wait_delay_ms.size();
    double cpu = 0.0;
    for (std::size_t i = 0; i < call_ms.size(); ++i) {
        if (call_ms[i] <= limit_ms) continue;
        ++judgement.slow_calls;
        if (i < evidence.call_cpu_ms.size()) cpu += evidence.call_cpu_ms[i];
    }
    if (judgement.slow_calls == 0) return judgement;
    judgement.verdict = time_verdict::own;
    const auto slow = static_cast<double>(judgement.slow_calls);
    judgement.cpu_per_slow_call_ms = cpu / slow;
    // Each reading is within one step of the processor time the call used.
    double step = evidence.cpu_step_ms;
    for (const double reading : evidence.call_cpu_ms)
        if (reading > 0.0) step = std::min(step, reading);
    const double doubt = step * std::sqrt(std::log(1.0 / cpu_doubt) / (2.0 * slow));
    if (judgement.cpu_per_slow_call_ms - doubt >= limit_ms)
        judgement.reason = own_reason::computed;
    else if (evidence.use && judgement.others_share < busy_share)
        judgement.reason = own_reason::machine_free;
    return judgement;
}

}  // namespace

double others_share(const processor_use& use) noexcept
{
    const double capacity = use.seconds * use.processors;
    if (!(capacity > 0.0)) return 0.0;
    return std::clamp((use.busy_seconds - use.own_seconds) / capacity, 0.0, 1.0);
}

double binomial_tail(std::size_t trials, double probability, std::size_t at_least) noexcept
{
    if (at_least == 0) return 1.0;
    if (at_least > trials || probability <= 0.0) return 0.0;
    if (probability >= 1.0) return 1.0;
    const auto n = static_cast<double>(trials);
    const double log_p = std::log(probability);
    const double log_q = std::log1p(-probability);
    double sum = 0.0;
    for (std::size_t k = at_least; k <= trials; ++k) {
        const auto x = static_cast<double>(k);
        const double log_term =
            std::lgamma(n + 1.0) - std::lgamma(x + 1.0) - std::lgamma(n - x + 1.0) + x * log_p + (n - x) * log_q;
        const double term = std::exp(log_term);
        sum += term;
        // Past the mode the terms only shrink: stop once they no longer count.
        if (x > n * probability && term < sum * 1e-12) break;
    }
    return std::min(sum, 1.0);
}

time_judgement judge_update_run(const std::vector<double>& update_ms, double budget_ms, const timing_evidence& evidence)
{
    time_judgement judgement = start_judgement(update_ms, budget_ms, evidence);
    judgement.calls = update_ms.size();
    const std::size_t n = update_ms.size();
    // The Updates the p99 lets be over the budget (nearest rank).
    const auto p99_rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    const std::size_t allowed = n - std::min(n, p99_rank);
    if (judgement.slow_calls <= allowed) {
        judgement.verdict = time_verdict::within;
        judgement.reason = own_reason::none;
        return judgement;
    }
    if (judgement.reason != own_reason::none) return judgement;

    const std::size_t m = evidence.wait_delay_ms.size();
    const double share_of_updates = static_cast<double>(n) / static_cast<double>(n + m);
    for (const double excess : excesses_ms) {
        const auto calls_over = static_cast<std::size_t>(std::count_if(
            update_ms.begin(), update_ms.end(), [&](double ms) { return ms > budget_ms && ms >= budget_ms + excess; }));
        if (calls_over <= allowed) break;  // the counts only fall with the excess
        if (m == 0) break;
        const auto waits_over = static_cast<std::size_t>(std::count_if(
            evidence.wait_delay_ms.begin(), evidence.wait_delay_ms.end(), [&](double ms) { return ms >= excess; }));
        const std::size_t unexplained = calls_over - allowed;
        if (binomial_tail(unexplained + waits_over, share_of_updates, unexplained) < waits_doubt) {
            judgement.reason = own_reason::waits_prompt;
            judgement.excess_ms = excess;
            judgement.calls_over = calls_over;
            judgement.waits_over = waits_over;
            return judgement;
        }
    }
    judgement.verdict = time_verdict::disturbed;
    return judgement;
}

time_judgement judge_call(double call_ms, double limit_ms, const timing_evidence& evidence)
{
    time_judgement judgement = start_judgement({call_ms}, limit_ms, evidence);
    judgement.calls = 1;
    if (judgement.verdict == time_verdict::within || judgement.reason != own_reason::none) return judgement;
    // Without probes nothing tells whether the machine held the thread up.
    if (judgement.waits > 0 && judgement.wait_delay_median_ms < held_up_median_ms &&
        judgement.cpu_per_slow_call_ms <= 0.0) {
        judgement.reason = own_reason::blocked;
        return judgement;
    }
    judgement.verdict = time_verdict::disturbed;
    return judgement;
}

bool machine_held_up(const timing_evidence& evidence)
{
    return evidence.use && others_share(*evidence.use) >= busy_share && !evidence.wait_delay_ms.empty() &&
           median(evidence.wait_delay_ms) >= held_up_median_ms;
}

std::string percent_text(double share)
{
    const double percent = std::floor(std::clamp(share, 0.0, 1.0) * 100.0);
    return std::to_string(static_cast<int>(percent)) + " %";
}

}  // namespace validate
