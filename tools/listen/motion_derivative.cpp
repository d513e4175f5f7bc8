#include "tools/listen/motion_derivative.h"

#include <cmath>

namespace tools {
namespace {

// Finite and at most `largest` in size, each of the three.
bool within(const float (&values)[3], double largest) noexcept
{
    for (const float v : values)
        if (!(std::abs(v) <= largest)) return false;  // NaN too
    return true;
}

bool within(const double (&values)[3], double largest) noexcept
{
    for (const double v : values)
        if (!(std::abs(v) <= largest)) return false;
    return true;
}

bool same_values(const decoded_motion& a, const decoded_motion& b) noexcept
{
    for (int i = 0; i < 3; ++i)
        if (a.velocity[i] != b.velocity[i] || a.angular_velocity[i] != b.angular_velocity[i]) return false;
    return true;
}

}  // namespace

std::optional<derived_motion> motion_differentiator::add(const decoded_motion& motion) noexcept
{
    if (!within(motion.velocity, largest_speed) || !within(motion.angular_velocity, largest_rotation)) {
        reference_.reset();
        return std::nullopt;
    }
    if (!reference_) {
        reference_ = motion;
        return std::nullopt;
    }
    const decoded_motion& before = *reference_;
    // Modulo 2^32: a wrap is an ordinary step, and a step backwards reads as
    // one of more than 2^31, far beyond the longest.
    const std::uint32_t step = motion.time_us - before.time_us;
    if (step > longest_step_us || (step == 0 && !same_values(before, motion))) {
        reference_ = motion;
        return std::nullopt;
    }
    if (step < shortest_step_us) return std::nullopt;

    const double dt = step * 1e-6;
    double v[3], w[3];
    derived_motion d;
    for (int i = 0; i < 3; ++i) {
        v[i] = (double{before.velocity[i]} + motion.velocity[i]) / 2.0;
        w[i] = (double{before.angular_velocity[i]} + motion.angular_velocity[i]) / 2.0;
        d.acceleration[i] = (double{motion.velocity[i]} - before.velocity[i]) / dt;
        d.angular_acceleration[i] = (double{motion.angular_velocity[i]} - before.angular_velocity[i]) / dt;
    }
    d.acceleration[0] += w[1] * v[2] - w[2] * v[1];
    d.acceleration[1] += w[2] * v[0] - w[0] * v[2];
    d.acceleration[2] += w[0] * v[1] - w[1] * v[0];
    reference_ = motion;
    if (!within(d.acceleration, largest_acceleration) || !within(d.angular_acceleration, largest_angular_acceleration))
        return std::nullopt;
    return d;
}

}  // namespace tools
