// The numbers that judge a run: the spread of Update's times, and whether a
// resource grows with frames or with Init and Shutdown cycles.
#pragma once

#include <cstdint>
#include <vector>

namespace validate {

struct latency_summary {
    std::size_t count = 0;
    double median = 0.0;
    double p99 = 0.0;
    double p999 = 0.0;
    double max = 0.0;
};

// Nearest-rank percentiles of `samples` (any unit; sorted in place).
latency_summary summarize_latency(std::vector<double>& samples);

// Readings of one resource at the start, the middle and the end of a run of
// two equal halves, each `units_per_half` frames or cycles long.
struct growth_readings {
    double start = 0.0;
    double middle = 0.0;
    double end = 0.0;
    std::uint64_t units_per_half = 0;
};

struct growth_verdict {
    bool grows = false;
    double per_unit = 0.0;  // the sustained growth per frame or cycle: the smaller half's
};

// A resource grows when each half grew by at least `per_unit_limit` per unit
// and by more than `noise` in all: a leak grows both halves alike, while a
// one-time step (a cache filled, a pool grown) lands in one half only and
// a small jitter stays within the noise.
growth_verdict judge_growth(const growth_readings& readings, double per_unit_limit, double noise) noexcept;

}  // namespace validate
