#include "tools/validate/statistics.h"

#include <algorithm>
#include <cmath>

namespace validate {

namespace {

// The smallest sample with at least `fraction` of all samples at or below it.
double nearest_rank(const std::vector<double>& sorted, double fraction)
{
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

latency_summary summarize_latency(std::vector<double>& samples)
{
    latency_summary summary;
    summary.count = samples.size();
    if (samples.empty()) return summary;
    std::sort(samples.begin(), samples.end());
    summary.median = nearest_rank(samples, 0.5);
    summary.p99 = nearest_rank(samples, 0.99);
    summary.p999 = nearest_rank(samples, 0.999);
    summary.max = samples.back();
    return summary;
}

growth_verdict judge_growth(const growth_readings& readings, double per_unit_limit, double noise) noexcept
{
    growth_verdict verdict;
    if (readings.units_per_half == 0) return verdict;
    const auto units = static_cast<double>(readings.units_per_half);
    const double first = readings.middle - readings.start;
    const double second = readings.end - readings.middle;
    const double threshold = per_unit_limit * units;
    const double sustained = std::min(first, second);
    verdict.per_unit = sustained / units;
    verdict.grows = sustained >= threshold && sustained > noise;
    return verdict;
}

}  // namespace validate
