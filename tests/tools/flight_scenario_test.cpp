// The built-in flight: a take-off, a climb and a turn whose values agree
// with each other as physics says they must.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include <skarvel/catalogue/message_name_list.h>

#include "tools/common/flight_scenario.h"
#include "tools/common/stream_encoding.h"

namespace {

constexpr double dt = 1.0 / 60.0;
constexpr double pi = 3.14159265358979323846;

double norm(const tm_vector3d& v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// Runs the flight to `seconds`, calling `check` on every state.
template <typename Check>
void fly(double seconds, Check check)
{
    tools::flight_scenario scenario;
    const int frames = static_cast<int>(std::lround(seconds / dt));
    for (int i = 0; i <= frames; ++i) {
        check(scenario.state());
        scenario.advance(dt);
    }
}

const tm_external_message* find(const tm_message_list& frame, const char* name)
{
    for (const tm_external_message& m : frame)
        if (std::string(get_message_name(m).GetCString()) == name) return &m;
    return nullptr;
}

}  // namespace

TEST(FlightScenario, FrameNamesFortyMessagesFromTheCatalogueAndEveryDataType)
{
    tools::flight_scenario scenario;
    tm_message_list frame;
    tools::make_scenario_frame(scenario.state(), frame);
    EXPECT_GE(frame.size(), 38u);
    EXPECT_LE(frame.size(), 44u);
    std::set<int> types;
    std::set<std::uint64_t> ids;
    for (const tm_external_message& m : frame) {
        EXPECT_STRNE(get_message_name(m).GetCString(), "unknown") << std::hex << m.GetID();
        types.insert(static_cast<int>(m.GetDataType()));
        EXPECT_TRUE(ids.insert(m.GetID()).second) << get_message_name(m).GetCString() << " twice";
    }
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_NE(find(frame, "Aircraft.Name"), nullptr);
    EXPECT_EQ(find(frame, "Aircraft.Name")->GetDataType(), tm_msg_data_type::String);
    EXPECT_STREQ(find(frame, "Aircraft.Name")->GetString().GetCString(), tools::scenario_aircraft_name);
    EXPECT_EQ(find(frame, "Aircraft.Orientation")->GetDataType(), tm_msg_data_type::Vector4d);
    EXPECT_EQ(find(frame, "Aircraft.OnGround")->GetInt(), 1);
    EXPECT_EQ(find(frame, "Simulation.Time")->GetFlags().GetValue(), simulation_time_flags.GetValue());
}

TEST(FlightScenario, TimeAdvancesByTheStepAndMotionValuesReachTheFrame)
{
    tools::flight_scenario scenario;
    for (int i = 0; i < 300; ++i) scenario.advance(dt);
    EXPECT_EQ(scenario.state().time, 5.0);  // exact: its datagram says 5 000 000 us, not 4 999 999
    tm_message_list frame;
    tools::make_scenario_frame(scenario.state(), frame);
    EXPECT_DOUBLE_EQ(find(frame, "Simulation.Time")->GetDouble(), scenario.state().time);
    EXPECT_DOUBLE_EQ(find(frame, "Aircraft.Velocity")->GetVector3d().x, scenario.state().velocity.x);
    EXPECT_GT(scenario.state().velocity.x, 5.0);  // rolling
}

TEST(FlightScenario, TakesOffClimbsAndTurns)
{
    bool lifted_off = false;
    double heading_change = 0.0, last_heading = -1.0, max_bank = 0.0;
    fly(90.0, [&](const tools::flight_state& s) {
        if (s.time < 10.0) {
            EXPECT_TRUE(s.on_ground) << s.time;
            EXPECT_EQ(s.height, 0.0);
        }
        if (!s.on_ground && !lifted_off) {
            lifted_off = true;
            EXPECT_GT(s.time, 12.0);
            EXPECT_LT(s.time, 14.0);
            EXPECT_GT(s.airspeed, 25.0);  // flying speed for a light aircraft
        }
        if (last_heading >= 0.0) {
            double d = s.heading - last_heading;
            if (d > pi) d -= 2 * pi;
            if (d < -pi) d += 2 * pi;
            heading_change += d;
        }
        last_heading = s.heading;
        max_bank = std::max(max_bank, s.bank);
        EXPECT_GE(s.height, 0.0);
        EXPECT_LT(s.airspeed, 45.0);
    });
    EXPECT_TRUE(lifted_off);
    EXPECT_NEAR(max_bank, 15.0 * pi / 180.0, 0.01);  // body bank: the path bank seen past the angle of attack
    EXPECT_GT(heading_change, 60.0 * pi / 180.0);  // a right turn of some size
    EXPECT_LT(heading_change, 180.0 * pi / 180.0);
}

TEST(FlightScenario, ValuesAgreeWithEachOther)
{
    tools::flight_state previous;
    bool first = true;
    fly(80.0, [&](const tools::flight_state& s) {
        // Body velocity is the airspeed, in the body's x-z plane (no sideslip).
        EXPECT_NEAR(norm(s.velocity), s.airspeed, 1e-9);
        EXPECT_EQ(s.velocity.y, 0.0);
        EXPECT_NEAR(norm(s.gravity), tools::standard_gravity, 1e-9);
        const tm_vector4d& q = s.orientation;
        EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0, 1e-12);
        EXPECT_NEAR(s.altitude - s.height, tools::runway_elevation, 1e-9);
        EXPECT_NEAR(s.position.z, -s.height, 1e-12);
        if (s.bank == 0.0) {
            EXPECT_NEAR(s.pitch, s.flight_path_angle + s.angle_of_attack, 1e-9);
        }
        if (!first) {
            // Position moves with the speed; the speed with the acceleration.
            const double moved =
                std::hypot(std::hypot(s.position.x - previous.position.x, s.position.y - previous.position.y),
                           s.position.z - previous.position.z);
            EXPECT_NEAR(moved / dt, s.airspeed, 0.05) << s.time;
            EXPECT_NEAR(s.airspeed - previous.airspeed, s.acceleration * dt, 0.01) << s.time;
            // The body rates turn the orientation: 2 conj(q) dq/dt = (0, w).
            const tm_vector4d& a = previous.orientation;
            const tm_vector4d d{(q.x - a.x) / dt, (q.y - a.y) / dt, (q.z - a.z) / dt, (q.w - a.w) / dt};
            const tm_vector4d m{(q.x + a.x) / 2, (q.y + a.y) / 2, (q.z + a.z) / 2, (q.w + a.w) / 2};
            const tm_vector3d w{2 * (m.w * d.x - m.x * d.w - m.y * d.z + m.z * d.y),
                                2 * (m.w * d.y + m.x * d.z - m.y * d.w - m.z * d.x),
                                2 * (m.w * d.z - m.x * d.y + m.y * d.x - m.z * d.w)};
            const tm_vector3d mean{(s.angular_velocity.x + previous.angular_velocity.x) / 2,
                                   (s.angular_velocity.y + previous.angular_velocity.y) / 2,
                                   (s.angular_velocity.z + previous.angular_velocity.z) / 2};
            EXPECT_NEAR(w.x, mean.x, 2e-3) << s.time;
            EXPECT_NEAR(w.y, mean.y, 2e-3) << s.time;
            EXPECT_NEAR(w.z, mean.z, 2e-3) << s.time;
        }
        previous = s;
        first = false;
    });
}

TEST(FlightScenario, CoordinatedTurnKeepsTheBallCentred)
{
    // In a coordinated turn the kinematic acceleration minus gravity has no
    // sideways component in body axes.
    fly(50.0, [&](const tools::flight_state& s) {
        if (s.time > 35.0 && s.time < 50.0) {
            EXPECT_GT(s.rate_of_turn, 0.05);
            EXPECT_NEAR(s.body_acceleration.y - s.gravity.y, 0.0, 0.05) << s.time;
        }
    });
}
