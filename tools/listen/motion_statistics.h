// What a listener learns from the motion datagrams it receives: how many,
// how fast and how evenly they came, whether the simulation time moved on,
// how many were not motion datagrams at all, and how many the system dropped
// before they could be read.
#pragma once

#include <cstddef>
#include <cstdint>

#include <optional>

#include "telemetry/motion_datagram.h"
#include "tools/listen/receive_drops.h"

namespace tools {

enum class datagram_kind { valid, wrong_size, wrong_marker };

// Sorts one received datagram; `out` is filled for a valid one.
datagram_kind classify_datagram(const std::uint8_t* bytes, std::size_t length, decoded_motion& out) noexcept;

// How the simulation time of a datagram relates to the one before it. The
// field counts microseconds modulo 2^32, so the step is taken modulo 2^32
// too: a step of less than half the range is forward (a wrap included).
enum class time_step_kind { forward, wrapped, still, backwards };
time_step_kind classify_time_step(std::uint32_t previous, std::uint32_t current) noexcept;

struct motion_summary {
    std::uint64_t valid = 0;
    std::uint64_t wrong_size = 0;
    std::uint64_t wrong_marker = 0;
    double rate_hz = 0.0;  // valid datagrams per second of arrival time
    double mean_interval_ms = 0.0;
    double jitter_ms = 0.0;  // standard deviation of the arrival intervals
    double min_interval_ms = 0.0;
    double max_interval_ms = 0.0;
    std::uint64_t time_backwards = 0;  // datagrams whose time went back
    std::uint64_t time_still = 0;  // datagrams whose time stood still
    std::uint64_t pauses = 0;  // runs of standing still
    std::uint64_t time_wraps = 0;  // forward steps across 2^32 microseconds
    std::optional<system_drops> dropped;  // nothing where the system does not count them
};

class motion_statistics {
public:
    // A valid datagram that arrived at `arrival` seconds (any steady clock).
    void add_valid(const decoded_motion& motion, double arrival) noexcept;
    void add_malformed(datagram_kind kind) noexcept;
    // What the system said of its drops at the end of the run.
    void set_dropped(const std::optional<system_drops>& dropped) noexcept { dropped_ = dropped; }
    // Convenience: classifies and counts; returns the kind.
    datagram_kind add(const std::uint8_t* bytes, std::size_t length, double arrival, decoded_motion& out) noexcept;

    motion_summary summary() const noexcept;
    std::uint64_t valid() const noexcept { return valid_; }

private:
    std::uint64_t valid_ = 0, wrong_size_ = 0, wrong_marker_ = 0;
    double first_arrival_ = 0.0, last_arrival_ = 0.0;
    // Running mean and sum of squared deviations of the intervals (Welford).
    std::uint64_t intervals_ = 0;
    double interval_mean_ = 0.0, interval_m2_ = 0.0, interval_min_ = 0.0, interval_max_ = 0.0;
    std::uint32_t last_time_ = 0;
    bool standing_ = false;
    std::uint64_t backwards_ = 0, still_ = 0, pauses_ = 0, wraps_ = 0;
    std::optional<system_drops> dropped_;
};

}  // namespace tools
