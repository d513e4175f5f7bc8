// The host simulator's built-in flight: a light aircraft's take-off roll,
// rotation and climb, a turn, then a level-off, integrated frame by frame
// so that positions, velocities, rates and attitudes agree with each other.
//
// Units are SI throughout: metres, seconds, radians, kilograms. The world
// frame is local north-east-down (NED) with its origin at the brake-release
// point; body axes are x forward, y right, z down.
#pragma once

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_list.h>

namespace tools {

struct flight_state {
    double time = 0.0;  // simulation time, s
    tm_vector3d position;  // NED, m from the brake-release point
    double altitude = 0.0;  // above mean sea level, m
    double height = 0.0;  // above the runway, m
    double airspeed = 0.0;  // along the flight path, m/s (calm air)
    double acceleration = 0.0;  // d(airspeed)/dt, m/s^2
    double flight_path_angle = 0.0;  // rad, positive climbing
    double angle_of_attack = 0.0;  // rad
    double heading = 0.0;  // true heading, rad in [0, 2 pi)
    double pitch = 0.0;  // rad, of the body (z-y-x Euler angles with heading and bank)
    double bank = 0.0;  // rad, positive right wing down
    double rate_of_turn = 0.0;  // d(heading)/dt, rad/s
    double latitude = 0.0;  // rad
    double longitude = 0.0;  // rad
    tm_vector4d orientation;  // body-to-NED rotation as a unit quaternion (x, y, z, w)
    tm_vector3d velocity;  // body axes, m/s
    tm_vector3d angular_velocity;  // body axes (roll, pitch, yaw rates), rad/s
    tm_vector3d body_acceleration;  // body axes, kinematic (gravity excluded), m/s^2
    tm_vector3d angular_acceleration;  // body axes, rad/s^2
    tm_vector3d gravity;  // body axes, m/s^2
    double throttle = 0.0;  // 0..1
    double flaps = 0.0;  // 0..1
    double gear = 0.0;  // 0 up .. 1 down
    double mass = 0.0;  // kg
    bool on_ground = true;
};

class flight_scenario {
public:
    flight_scenario() noexcept;

    const flight_state& state() const noexcept { return state_; }

    // Moves the flight on by `dt` seconds (dt > 0).
    void advance(double dt) noexcept;

private:
    void derive(double dt) noexcept;

    flight_state state_;
    double north_ = 0.0, east_ = 0.0, height_ = 0.0, heading_ = 0.0, airspeed_ = 0.0;
    tm_vector3d previous_angular_velocity_;
    double origin_ = 0.0, step_ = 0.0;  // time = origin_ + steps_ * step_
    long long steps_ = 0;
};

// The frame a host sends for this state: about forty messages named from the
// catalogue, covering every data type. Replaces the content of `frame`.
void make_scenario_frame(const flight_state& state, tm_message_list& frame);

// Constants of the flight that receivers and tests may check against.
inline constexpr double standard_gravity = 9.80665;
inline constexpr double runway_elevation = 35.0;
inline constexpr const char* scenario_aircraft_name = "Skarvel Trainer";
inline constexpr const char* scenario_airport = "XSKV";

}  // namespace tools
