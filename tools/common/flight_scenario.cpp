#include "tools/common/flight_scenario.h"

#include <cmath>

#include "tools/common/message_builder.h"

namespace tools {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degrees = pi / 180.0;
constexpr double earth_radius = 6371000.0;
constexpr double speed_of_sound = 340.3;
constexpr double start_latitude = 59.3500 * degrees;
constexpr double start_longitude = 17.9400 * degrees;
constexpr double runway_heading = 120.0 * degrees;
constexpr double magnetic_variation = 5.0 * degrees;  // east

// A smooth step from 0 at t0 to 1 at t1, and its rate of change.
double ramp(double t, double t0, double t1) noexcept
{
    if (t <= t0) return 0.0;
    if (t >= t1) return 1.0;
    const double u = (t - t0) / (t1 - t0);
    return u * u * (3.0 - 2.0 * u);
}

double ramp_rate(double t, double t0, double t1) noexcept
{
    if (t <= t0 || t >= t1) return 0.0;
    const double u = (t - t0) / (t1 - t0);
    return 6.0 * u * (1.0 - u) / (t1 - t0);
}

// The flight plan, as functions of time. Full power from the start, the
// roll accelerates at up to 2.5 m/s^2; rotation at 11 s, lift-off at 12.5 s,
// a 6 degree climb; a 15 degree banked turn from 30 s to 58 s; level-off
// from 70 s, power back at 72 s.
double planned_acceleration(double t) noexcept
{
    return 2.5 * ramp(t, 0.0, 1.0) * (1.0 - ramp(t, 12.0, 18.0));
}

double planned_path_angle(double t) noexcept
{
    return 6.0 * degrees * (ramp(t, 12.5, 16.0) - ramp(t, 70.0, 75.0));
}
double planned_path_angle_rate(double t) noexcept
{
    return 6.0 * degrees * (ramp_rate(t, 12.5, 16.0) - ramp_rate(t, 70.0, 75.0));
}

double planned_angle_of_attack(double t) noexcept
{
    return 8.0 * degrees * ramp(t, 11.0, 13.0) - 3.0 * degrees * ramp(t, 15.0, 20.0);
}
double planned_angle_of_attack_rate(double t) noexcept
{
    return 8.0 * degrees * ramp_rate(t, 11.0, 13.0) - 3.0 * degrees * ramp_rate(t, 15.0, 20.0);
}

double planned_bank(double t) noexcept
{
    return 15.0 * degrees * (ramp(t, 30.0, 34.0) - ramp(t, 54.0, 58.0));
}
double planned_bank_rate(double t) noexcept
{
    return 15.0 * degrees * (ramp_rate(t, 30.0, 34.0) - ramp_rate(t, 54.0, 58.0));
}

double wrap_angle(double a) noexcept
{
    a = std::fmod(a, 2.0 * pi);
    return a < 0.0 ? a + 2.0 * pi : a;
}

// Rotation matrix body-to-NED for yaw, pitch, roll (z-y-x), row major.
struct rotation {
    double m[3][3];
};

rotation body_to_ned(double yaw, double pitch, double roll) noexcept
{
    const double cy = std::cos(yaw), sy = std::sin(yaw);
    const double cp = std::cos(pitch), sp = std::sin(pitch);
    const double cr = std::cos(roll), sr = std::sin(roll);
    return {{{cp * cy, sr * sp * cy - cr * sy, cr * sp * cy + sr * sy},
             {cp * sy, sr * sp * sy + cr * cy, cr * sp * sy - sr * cy},
             {-sp, sr * cp, cr * cp}}};
}

// NED vector into body axes: the transpose of body_to_ned.
tm_vector3d to_body(const rotation& r, double n, double e, double d) noexcept
{
    return {r.m[0][0] * n + r.m[1][0] * e + r.m[2][0] * d, r.m[0][1] * n + r.m[1][1] * e + r.m[2][1] * d,
            r.m[0][2] * n + r.m[1][2] * e + r.m[2][2] * d};
}

tm_vector4d quaternion(double yaw, double pitch, double roll) noexcept
{
    const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
    const double cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
    const double cr = std::cos(roll / 2), sr = std::sin(roll / 2);
    return {sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy, cr * cp * sy - sr * sp * cy,
            cr * cp * cy + sr * sp * sy};
}

}  // namespace

flight_scenario::flight_scenario() noexcept
{
    heading_ = runway_heading;
    derive(0.0);
}

void flight_scenario::advance(double dt) noexcept
{
    // Semi-implicit Euler: speed first, then heading and position with the
    // new speed, so the path follows the velocity the next state reports.
    const double t = state_.time;
    airspeed_ += planned_acceleration(t) * dt;
    const double gamma = planned_path_angle(t + dt);
    const double bank = planned_bank(t + dt);
    if (height_ > 0.0 && airspeed_ > 1.0) heading_ += standard_gravity * std::tan(bank) / airspeed_ * dt;
    heading_ = wrap_angle(heading_);
    north_ += airspeed_ * std::cos(gamma) * std::cos(heading_) * dt;
    east_ += airspeed_ * std::cos(gamma) * std::sin(heading_) * dt;
    height_ += airspeed_ * std::sin(gamma) * dt;
    if (height_ < 0.0) height_ = 0.0;
    // Steps of one size are counted, not summed: 300 x 1/60 s is 5 s, where
    // a running sum would end a hair below it.
    if (dt != step_) {
        origin_ = t;
        step_ = dt;
        steps_ = 0;
    }
    ++steps_;
    state_.time = origin_ + static_cast<double>(steps_) * step_;
    derive(dt);
}

void flight_scenario::derive(double dt) noexcept
{
    flight_state& s = state_;
    const double t = s.time;
    const double gamma = planned_path_angle(t);
    const double alpha = planned_angle_of_attack(t);
    const double bank = planned_bank(t);
    const double v = airspeed_;

    s.on_ground = height_ <= 0.0;
    s.airspeed = v;
    s.acceleration = planned_acceleration(t);
    s.flight_path_angle = gamma;
    s.angle_of_attack = alpha;
    s.rate_of_turn = (!s.on_ground && v > 1.0) ? standard_gravity * std::tan(bank) / v : 0.0;
    s.position = {north_, east_, 0.0 - height_};  // +0, not -0, on the ground
    s.height = height_;
    s.altitude = runway_elevation + height_;
    s.latitude = start_latitude + north_ / earth_radius;
    s.longitude = start_longitude + east_ / (earth_radius * std::cos(start_latitude));

    // Attitude: the flight path's axes (heading, path angle, bank about the
    // velocity), then the nose raised by the angle of attack. The velocity
    // then lies in the body's x-z plane: no sideslip, a coordinated turn.
    const rotation path = body_to_ned(heading_, gamma, bank);
    const double ca = std::cos(alpha), sa = std::sin(alpha);
    rotation r{};
    for (int i = 0; i < 3; ++i) {
        r.m[i][0] = path.m[i][0] * ca - path.m[i][2] * sa;
        r.m[i][1] = path.m[i][1];
        r.m[i][2] = path.m[i][0] * sa + path.m[i][2] * ca;
    }
    s.pitch = std::asin(-r.m[2][0]);
    s.bank = std::atan2(r.m[2][1], r.m[2][2]);
    s.heading = wrap_angle(std::atan2(r.m[1][0], r.m[0][0]));
    s.orientation = quaternion(s.heading, s.pitch, s.bank);
    s.velocity = {v * ca, 0.0, v * sa};

    // d/dt of the NED velocity: along the path, in the climb, in the turn.
    const double cg = std::cos(gamma), sg = std::sin(gamma);
    const double ch = std::cos(heading_), sh = std::sin(heading_);
    const double gamma_rate = planned_path_angle_rate(t);
    const double psi_rate = s.rate_of_turn;
    const double an = s.acceleration * cg * ch - v * gamma_rate * sg * ch - v * psi_rate * cg * sh;
    const double ae = s.acceleration * cg * sh - v * gamma_rate * sg * sh + v * psi_rate * cg * ch;
    const double ad = -s.acceleration * sg - v * gamma_rate * cg;
    s.body_acceleration = to_body(r, an, ae, ad);
    s.gravity = to_body(r, 0.0, 0.0, standard_gravity);

    // Rates of the flight path's axes from its angle rates, then turned into
    // body axes, plus the change of the angle of attack.
    const double mu_rate = planned_bank_rate(t);
    const double sb = std::sin(bank), cb = std::cos(bank);
    const double p = mu_rate - psi_rate * sg;
    const double q = gamma_rate * cb + psi_rate * cg * sb;
    const double w = -gamma_rate * sb + psi_rate * cg * cb;
    s.angular_velocity = {ca * p - sa * w, q + planned_angle_of_attack_rate(t), sa * p + ca * w};
    if (dt > 0.0) {
        s.angular_acceleration = {(s.angular_velocity.x - previous_angular_velocity_.x) / dt,
                                  (s.angular_velocity.y - previous_angular_velocity_.y) / dt,
                                  (s.angular_velocity.z - previous_angular_velocity_.z) / dt};
    }
    previous_angular_velocity_ = s.angular_velocity;

    s.throttle = 0.3 + 0.7 * ramp(t, 0.0, 1.0) - 0.25 * ramp(t, 72.0, 75.0);
    s.flaps = 0.25 * (1.0 - ramp(t, 25.0, 30.0));
    s.gear = 1.0 - ramp(t, 20.0, 26.0);
    s.mass = 1050.0 - 0.008 * t;  // fuel burn
}

void make_scenario_frame(const flight_state& s, tm_message_list& frame)
{
    const double ground_speed = s.airspeed * std::cos(s.flight_path_angle);
    const double vertical_speed = s.airspeed * std::sin(s.flight_path_angle);
    const double magnetic = wrap_angle(s.heading - magnetic_variation);
    frame.clear();
    frame.push_back(make_double(tm_msg_id("Simulation.Time"), s.time, simulation_time_flags));
    frame.push_back(make_string(tm_msg_id("Aircraft.Name"), scenario_aircraft_name));
    frame.push_back(make_string8(tm_msg_id("Aircraft.NearestAirport"), scenario_airport));
    frame.push_back(make_int(tm_msg_id("Aircraft.Category.Jet"), 0));
    frame.push_back(make_int(tm_msg_id("Aircraft.Category.Glider"), 0));
    frame.push_back(make_int(tm_msg_id("Aircraft.OnGround"), s.on_ground ? 1 : 0));
    frame.push_back(make_int(tm_msg_id("Aircraft.OnRunway"), s.on_ground ? 1 : 0));
    frame.push_back(make_int(tm_msg_id("Aircraft.Crashed"), 0));
    frame.push_back(make_vector3d(tm_msg_id("Aircraft.Position"), s.position));
    frame.push_back(make_vector4d(tm_msg_id("Aircraft.Orientation"), s.orientation));
    frame.push_back(make_vector3d(tm_msg_id("Aircraft.Velocity"), s.velocity, motion_vector_flags));
    frame.push_back(make_vector3d(tm_msg_id("Aircraft.AngularVelocity"), s.angular_velocity, motion_vector_flags));
    frame.push_back(make_vector3d(tm_msg_id("Aircraft.Acceleration"), s.body_acceleration));
    frame.push_back(make_vector3d(tm_msg_id("Aircraft.AngularAcceleration"), s.angular_acceleration));
    frame.push_back(make_vector3d(tm_msg_id("Aircraft.Gravity"), s.gravity));
    frame.push_back(make_vector2d(tm_msg_id("Aircraft.Wind"), 0.0, 0.0));  // calm air
    frame.push_back(make_double(tm_msg_id("Aircraft.Altitude"), s.altitude));
    frame.push_back(make_double(tm_msg_id("Aircraft.Height"), s.height));
    frame.push_back(make_double(tm_msg_id("Aircraft.RadarAltitude"), s.height));
    frame.push_back(make_double(tm_msg_id("Aircraft.VerticalSpeed"), vertical_speed));
    frame.push_back(make_double(tm_msg_id("Aircraft.Pitch"), s.pitch));
    frame.push_back(make_double(tm_msg_id("Aircraft.Bank"), s.bank));
    frame.push_back(make_double(tm_msg_id("Aircraft.TrueHeading"), s.heading));
    frame.push_back(make_double(tm_msg_id("Aircraft.MagneticHeading"), magnetic));
    frame.push_back(make_double(tm_msg_id("Aircraft.Latitude"), s.latitude));
    frame.push_back(make_double(tm_msg_id("Aircraft.Longitude"), s.longitude));
    frame.push_back(make_double(tm_msg_id("Aircraft.IndicatedAirspeed"), s.airspeed));
    frame.push_back(make_double(tm_msg_id("Aircraft.GroundSpeed"), ground_speed));
    frame.push_back(make_double(tm_msg_id("Aircraft.MachNumber"), s.airspeed / speed_of_sound));
    frame.push_back(make_double(tm_msg_id("Aircraft.RateOfTurn"), s.rate_of_turn));
    frame.push_back(make_double(tm_msg_id("Aircraft.AngleOfAttack"), s.angle_of_attack));
    frame.push_back(make_double(tm_msg_id("Aircraft.Mass"), s.mass));
    frame.push_back(make_double(tm_msg_id("Aircraft.Throttle"), s.throttle));
    frame.push_back(make_double(tm_msg_id("Aircraft.Flaps"), s.flaps));
    frame.push_back(make_double(tm_msg_id("Aircraft.Gear"), s.gear));
    frame.push_back(make_double(tm_msg_id("Aircraft.AirBrake"), 0.0));
    frame.push_back(make_double(tm_msg_id("Controls.Throttle1"), s.throttle));
    frame.push_back(make_int(tm_msg_id("Communication.TransponderCode"), 7000));
    frame.push_back(make_double(tm_msg_id("Navigation.COM1Frequency"), 118.5e6));
    frame.push_back(make_int(tm_msg_id("Autopilot.Engaged"), 0));
    frame.push_back(make_none(tm_msg_id("Navigation.COM1FrequencySwap")));
}

}  // namespace tools
