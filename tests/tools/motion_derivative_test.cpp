// Accelerations derived from the motion datagrams: against the built-in
// flight's own "Aircraft.Acceleration" and "Aircraft.AngularAcceleration",
// and without spikes at pauses, backward steps, the 2^32 microsecond wrap,
// bad numbers and jumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "telemetry/motion_datagram.h"
#include "tools/common/flight_scenario.h"
#include "tools/listen/motion_derivative.h"

namespace {

// The datagram the plug-in sends for a state of the flight, as a receiver
// decodes it: floats, and the time in whole microseconds.
decoded_motion received(const tools::flight_state& s)
{
    motion_sample sample;
    sample.simulation_time = s.time;
    sample.aircraft_velocity = s.velocity;
    sample.aircraft_angularvelocity = s.angular_velocity;
    const motion_datagram d = encode_motion_datagram(sample);
    decoded_motion m;
    EXPECT_TRUE(decode_motion_datagram(d.data(), d.size(), m));
    return m;
}

decoded_motion at(std::uint32_t time_us, float vx, float wz = 0.0f)
{
    decoded_motion m;
    m.time_us = time_us;
    m.velocity[0] = vx;
    m.angular_velocity[2] = wz;
    return m;
}

}  // namespace

// The whole flight at 60 Hz: roll, rotation, lift-off, climb, a banked turn,
// level-off. Each derived value spans two frames and belongs to the middle of
// the step, so it is compared with the mean of the flight's values at both.
TEST(DerivedAcceleration, MatchesTheBuiltInFlightWithin0p05)
{
    constexpr double tolerance = 0.05;  // m/s^2 and rad/s^2
    tools::flight_scenario flight;
    tools::motion_differentiator derive;
    tools::flight_state before = flight.state();
    EXPECT_FALSE(derive.add(received(before)));
    double worst = 0.0, worst_angular = 0.0, largest = 0.0;
    int compared = 0;
    for (int frame = 1; frame <= 90 * 60; ++frame) {
        flight.advance(1.0 / 60.0);
        const tools::flight_state& now = flight.state();
        const std::optional<tools::derived_motion> d = derive.add(received(now));
        ASSERT_TRUE(d) << "frame " << frame;
        const double expected[3] = {(before.body_acceleration.x + now.body_acceleration.x) / 2,
                                    (before.body_acceleration.y + now.body_acceleration.y) / 2,
                                    (before.body_acceleration.z + now.body_acceleration.z) / 2};
        const double expected_angular[3] = {now.angular_acceleration.x, now.angular_acceleration.y,
                                            now.angular_acceleration.z};
        for (int i = 0; i < 3; ++i) {
            worst = std::max(worst, std::abs(d->acceleration[i] - expected[i]));
            worst_angular = std::max(worst_angular, std::abs(d->angular_acceleration[i] - expected_angular[i]));
            largest = std::max(largest, std::abs(expected[i]));
        }
        ++compared;
        before = now;
    }
    EXPECT_EQ(compared, 5400);
    EXPECT_GT(largest, 2.0);  // the roll's 2.5 m/s^2: there was something to match
    EXPECT_LT(worst, tolerance);
    EXPECT_LT(worst_angular, tolerance);
}

// A steady acceleration of 1 m/s^2 through a pause, a step back in time,
// the wrap of the time field and a jump: never a value far from 1, and
// nothing where there is no step to measure.
TEST(DerivedAcceleration, NoSpikesAtPausesBackwardStepsWrapsAndJumps)
{
    tools::motion_differentiator derive;
    auto forward = [&](const decoded_motion& m) {
        const std::optional<tools::derived_motion> d = derive.add(m);
        if (d) {
            EXPECT_NEAR(d->acceleration[0], 1.0, 1e-3) << m.time_us;
            EXPECT_EQ(d->acceleration[1], 0.0);
        }
        return d.has_value();
    };
    const std::uint32_t wrap = 4294950000u;  // 17.3 ms before the field wraps
    EXPECT_FALSE(forward(at(wrap - 20000, 10.0f)));  // the first: nothing to differ from
    EXPECT_TRUE(forward(at(wrap, 10.02f)));
    EXPECT_TRUE(forward(at(wrap + 20000, 10.04f)));  // across the wrap: 2 704 us
    EXPECT_FALSE(forward(at(wrap + 20000, 10.04f)));  // paused: the same datagram again
    EXPECT_FALSE(forward(at(wrap + 20000, 10.04f)));
    EXPECT_TRUE(forward(at(wrap + 40000, 10.06f)));  // resumed from where it stood
    EXPECT_FALSE(forward(at(wrap + 40500, 10.0605f)));  // half a millisecond: waits for a longer step
    EXPECT_TRUE(forward(at(wrap + 60000, 10.08f)));  // measured from the datagram before it

    // Back in time (a replay restarted), then standing still with other
    // values (moved while paused), then a jump of a second: each starts
    // afresh instead of dividing a leap by a short step.
    EXPECT_FALSE(forward(at(5000, 50.0f)));
    EXPECT_TRUE(forward(at(25000, 50.02f)));
    EXPECT_FALSE(forward(at(25000, 80.0f)));
    EXPECT_TRUE(forward(at(45000, 80.02f)));
    EXPECT_FALSE(forward(at(1045000, 10.0f)));
    EXPECT_TRUE(forward(at(1065000, 10.02f)));
}

// Turning at 0.5 rad/s about z with 20 m/s forward, the body velocity stays
// the same, yet the aircraft accelerates towards the turn's centre: w x v =
// (0, 10, 0) m/s^2, to the right.
TEST(DerivedAcceleration, ASteadyTurnAcceleratesTowardsItsCentre)
{
    tools::motion_differentiator derive;
    derive.add(at(0, 20.0f, 0.5f));
    const std::optional<tools::derived_motion> d = derive.add(at(16667, 20.0f, 0.5f));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->acceleration[0], 0.0);
    EXPECT_DOUBLE_EQ(d->acceleration[1], 10.0);
    EXPECT_EQ(d->acceleration[2], 0.0);
    EXPECT_EQ(d->angular_acceleration[2], 0.0);
}

// Values that no aircraft has, and numbers that are none, break the series:
// nothing for such a datagram nor for the next, which starts afresh; then
// the steady 1.2 m/s^2 again. A leap of the aircraft's speed or rotation
// within one frame (a reset) starts afresh without a spike.
TEST(DerivedAcceleration, BadNumbersAndLeapsBreakTheSeriesWithoutASpike)
{
    tools::motion_differentiator derive;
    std::uint32_t time_us = 0;
    float speed = 10.0f;
    auto next = [&](float vx, float wz = 0.0f) {
        time_us += 16667;
        const std::optional<tools::derived_motion> d = derive.add(at(time_us, vx, wz));
        if (d) {
            EXPECT_NEAR(d->acceleration[0], 1.2, 1e-3) << time_us;
        }
        return d.has_value();
    };
    auto steady = [&] { return next(speed += 0.02f); };
    EXPECT_FALSE(steady());
    EXPECT_TRUE(steady());
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float absurd_speed = 1.01e5f, absurd_rotation = 1.01e3f;
    for (const float bad : {nan, -nan, inf, -inf, 3.4e38f, absurd_speed, -absurd_speed}) {
        EXPECT_FALSE(next(bad)) << bad;
        EXPECT_FALSE(steady()) << bad;
        EXPECT_TRUE(steady()) << bad;
    }
    for (const float bad : {nan, inf, absurd_rotation, -absurd_rotation}) {
        EXPECT_FALSE(next(speed, bad)) << bad;
        EXPECT_FALSE(steady()) << bad;
        EXPECT_TRUE(steady()) << bad;
    }
    // 1e5 m/s and 1e3 rad/s themselves are still motion.
    EXPECT_FALSE(next(1e5f));
    EXPECT_FALSE(next(speed));  // a leap of 6e6 m/s^2: afresh from here
    EXPECT_TRUE(steady());
    EXPECT_FALSE(next(speed, 20.0f));  // 1,200 rad/s^2 within one frame
    EXPECT_TRUE(next(speed += 0.02f, 20.0f));
}
