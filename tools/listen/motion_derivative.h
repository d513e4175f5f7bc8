// Accelerations derived from successive motion datagrams, for motion cueing:
// a washout filter takes translational accelerations and angular velocities,
// while the datagram carries velocities.
//
// The velocities are in the aircraft's body axes (x forward, y right, z
// down), a frame that turns with the angular velocity w. Seen from such a
// frame a vector changes by its own rate minus w x v, so the acceleration is
//     a = dv/dt + w x v
// (a steady turn at constant body velocity still accelerates towards the
// centre of the turn). It is kinematic: gravity is not in it. The angular
// acceleration is dw/dt, the same in both frames.
//
// Each estimate spans two datagrams over their simulation time: the change
// of the velocities divided by the time between them, with w x v taken at the
// middle of the step. It belongs to the middle of the step, half a step
// before the newer datagram.
#pragma once

#include <cstdint>
#include <optional>

#include "telemetry/motion_datagram.h"

namespace tools {

struct derived_motion {
    double acceleration[3] = {};  // body axes, m/s^2, gravity excluded
    double angular_acceleration[3] = {};  // body axes, rad/s^2
};

class motion_differentiator {
public:
    // A step shorter than this is not used on its own: the next datagram is
    // measured from the same older one, so a microsecond of time truncation
    // cannot turn into a spike.
    static constexpr std::uint32_t shortest_step_us = 1000;
    // A longer gap (lost datagrams, a jump forward) starts afresh.
    static constexpr std::uint32_t longest_step_us = 500000;

    // The largest values taken for motion. Beyond them (100 km/s, nine times
    // the speed that leaves the Earth; 160 turns a second; about 100 g) a
    // value is no aircraft's: a fault in the sender, which no difference
    // quotient may turn into a spike.
    static constexpr double largest_speed = 1e5;  // m/s, each axis
    static constexpr double largest_rotation = 1e3;  // rad/s
    static constexpr double largest_acceleration = 1e3;  // m/s^2
    static constexpr double largest_angular_acceleration = 1e3;  // rad/s^2

    // The accelerations between the datagram last used and this one; nothing
    // for the first datagram, while the simulation time stands still (a
    // pause), and when the time goes backwards, jumps or the values change
    // while it stands still: those start afresh from this datagram. Steps are
    // taken modulo 2^32 microseconds, so the wrap is an ordinary step.
    // A datagram with a value that is not finite or beyond the largest breaks
    // the series: nothing for it, and the next one starts afresh. A step
    // whose accelerations would be beyond the largest (a reset, a jump of the
    // aircraft) gives nothing and starts afresh from this datagram. So every
    // value given is finite and within the largest.
    std::optional<derived_motion> add(const decoded_motion& motion) noexcept;

private:
    std::optional<decoded_motion> reference_;
};

}  // namespace tools
