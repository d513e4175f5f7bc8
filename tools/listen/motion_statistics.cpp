#include "tools/listen/motion_statistics.h"

#include <cmath>

namespace tools {

datagram_kind classify_datagram(const std::uint8_t* bytes, std::size_t length, decoded_motion& out) noexcept
{
    if (length != motion_datagram_size) return datagram_kind::wrong_size;
    return decode_motion_datagram(bytes, length, out) ? datagram_kind::valid : datagram_kind::wrong_marker;
}

time_step_kind classify_time_step(std::uint32_t previous, std::uint32_t current) noexcept
{
    const std::uint32_t step = current - previous;  // modulo 2^32
    if (step == 0) return time_step_kind::still;
    if (step >= 0x80000000u) return time_step_kind::backwards;
    return current < previous ? time_step_kind::wrapped : time_step_kind::forward;
}

void motion_statistics::add_valid(const decoded_motion& motion, double arrival) noexcept
{
    if (valid_ == 0) {
        first_arrival_ = arrival;
    } else {
        const double interval = arrival - last_arrival_;
        ++intervals_;
        const double delta = interval - interval_mean_;
        interval_mean_ += delta / static_cast<double>(intervals_);
        interval_m2_ += delta * (interval - interval_mean_);
        if (intervals_ == 1 || interval < interval_min_) interval_min_ = interval;
        if (intervals_ == 1 || interval > interval_max_) interval_max_ = interval;

        switch (classify_time_step(last_time_, motion.time_us)) {
            case time_step_kind::still:
                ++still_;
                if (!standing_) ++pauses_;
                break;
            case time_step_kind::backwards: ++backwards_; break;
            case time_step_kind::wrapped: ++wraps_; break;
            case time_step_kind::forward: break;
        }
    }
    standing_ = valid_ != 0 && motion.time_us == last_time_;
    last_time_ = motion.time_us;
    last_arrival_ = arrival;
    ++valid_;
}

void motion_statistics::add_malformed(datagram_kind kind) noexcept
{
    if (kind == datagram_kind::wrong_size) ++wrong_size_;
    if (kind == datagram_kind::wrong_marker) ++wrong_marker_;
}

datagram_kind motion_statistics::add(const std::uint8_t* bytes, std::size_t length, double arrival,
                                     decoded_motion& out) noexcept
{
    const datagram_kind kind = classify_datagram(bytes, length, out);
    if (kind == datagram_kind::valid)
        add_valid(out, arrival);
    else
        add_malformed(kind);
    return kind;
}

motion_summary motion_statistics::summary() const noexcept
{
    motion_summary s;
    s.valid = valid_;
    s.wrong_size = wrong_size_;
    s.wrong_marker = wrong_marker_;
    const double span = last_arrival_ - first_arrival_;
    if (intervals_ > 0 && span > 0.0) s.rate_hz = static_cast<double>(intervals_) / span;
    if (intervals_ > 0) {
        s.mean_interval_ms = interval_mean_ * 1000.0;
        s.min_interval_ms = interval_min_ * 1000.0;
        s.max_interval_ms = interval_max_ * 1000.0;
    }
    if (intervals_ > 1) s.jitter_ms = std::sqrt(interval_m2_ / static_cast<double>(intervals_ - 1)) * 1000.0;
    s.time_backwards = backwards_;
    s.time_still = still_;
    s.pauses = pauses_;
    s.time_wraps = wraps_;
    s.dropped = dropped_;
    return s;
}

}  // namespace tools
