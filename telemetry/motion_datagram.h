// The motion datagram: simulation time, velocity and angular velocity picked
// out of a frame by identifier, written as 32 little-endian bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_list.h>

// The three messages the broadcast reads, as constant records.
inline constexpr tm_external_message simulation_time_message{tm_msg_id("Simulation.Time"), tm_msg_data_type::Double,
                                                             simulation_time_flags};
inline constexpr tm_external_message aircraft_velocity_message{tm_msg_id("Aircraft.Velocity"),
                                                               tm_msg_data_type::Vector3d, motion_vector_flags};
inline constexpr tm_external_message aircraft_angular_velocity_message{tm_msg_id("Aircraft.AngularVelocity"),
                                                                       tm_msg_data_type::Vector3d, motion_vector_flags};

struct motion_sample {
    double simulation_time = 0.0;
    tm_vector3d aircraft_velocity;
    tm_vector3d aircraft_angularvelocity;
};

constexpr std::size_t motion_datagram_size = 32;
using motion_datagram = std::array<std::uint8_t, motion_datagram_size>;

// Picks the three values out of a frame; the last occurrence of each wins.
// A record with one of the identifiers but another data type is passed over.
motion_sample select_motion(const tm_message_list& frame) noexcept;

// The time field: seconds times 1 000 000, truncated toward zero, low 32 bits.
// NaN gives 0; a product beyond the signed 64-bit range saturates first.
std::uint32_t motion_time_field(double seconds) noexcept;

// Writes the 32 bytes: "G" 00 "M" 04, the time field, six floats.
motion_datagram encode_motion_datagram(const motion_sample& sample) noexcept;

// Reads a datagram back, for receivers. False unless it has 32 bytes and the
// marker; the time comes back in microseconds modulo 2^32.
struct decoded_motion {
    std::uint32_t time_us = 0;
    float velocity[3] = {};
    float angular_velocity[3] = {};
};
bool decode_motion_datagram(const std::uint8_t* bytes, std::size_t length, decoded_motion& out) noexcept;
