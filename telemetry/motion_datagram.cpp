#include "telemetry/motion_datagram.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <skarvel/shared/input/tm_byte_order.h>

using namespace tm_byte_order;

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "the datagram carries IEEE-754 single-precision values converted from doubles");

namespace {

constexpr std::uint8_t marker[4] = {0x47, 0x00, 0x4D, 0x04};

}  // namespace

motion_sample select_motion(const tm_message_list& frame) noexcept
{
    const std::uint64_t time_id = simulation_time_message.GetID();
    const std::uint64_t velocity_id = aircraft_velocity_message.GetID();
    const std::uint64_t angular_id = aircraft_angular_velocity_message.GetID();

    motion_sample sample;
    for (const tm_external_message& record : frame) {
        const std::uint64_t id = record.GetID();
        const tm_msg_data_type type = record.GetDataType();
        if (id == time_id && type == simulation_time_message.GetDataType())
            sample.simulation_time = record.GetDouble();
        else if (id == velocity_id && type == aircraft_velocity_message.GetDataType())
            sample.aircraft_velocity = record.GetVector3d();
        else if (id == angular_id && type == aircraft_angular_velocity_message.GetDataType())
            sample.aircraft_angularvelocity = record.GetVector3d();
    }
    return sample;
}

std::uint32_t motion_time_field(double seconds) noexcept
{
    // -2^63 and 2^63 are exact doubles: everything in [-2^63, 2^63) converts
    // to a signed 64-bit integer without overflow.
    constexpr double limit = 9223372036854775808.0;
    const double microseconds = seconds * 1000000.0;
    std::int64_t whole;
    if (std::isnan(microseconds))
        whole = 0;
    else if (microseconds >= limit)
        whole = std::numeric_limits<std::int64_t>::max();
    else if (microseconds < -limit)
        whole = std::numeric_limits<std::int64_t>::min();
    else
        whole = static_cast<std::int64_t>(microseconds);  // truncates toward zero
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
}

motion_datagram encode_motion_datagram(const motion_sample& sample) noexcept
{
    motion_datagram msg{};
    std::memcpy(msg.data(), marker, sizeof marker);
    store_u32_le(msg.data() + 4, motion_time_field(sample.simulation_time));
    store_f32_le(msg.data() + 8, static_cast<float>(sample.aircraft_velocity.x));
    store_f32_le(msg.data() + 12, static_cast<float>(sample.aircraft_velocity.y));
    store_f32_le(msg.data() + 16, static_cast<float>(sample.aircraft_velocity.z));
    store_f32_le(msg.data() + 20, static_cast<float>(sample.aircraft_angularvelocity.x));
    store_f32_le(msg.data() + 24, static_cast<float>(sample.aircraft_angularvelocity.y));
    store_f32_le(msg.data() + 28, static_cast<float>(sample.aircraft_angularvelocity.z));
    return msg;
}

bool decode_motion_datagram(const std::uint8_t* bytes, std::size_t length, decoded_motion& out) noexcept
{
    if (bytes == nullptr || length != motion_datagram_size || std::memcmp(bytes, marker, sizeof marker) != 0)
        return false;
    out.time_us = load_u32_le(bytes + 4);
    for (std::size_t i = 0; i < 3; ++i) {
        out.velocity[i] = load_f32_le(bytes + 8 + 4 * i);
        out.angular_velocity[i] = load_f32_le(bytes + 20 + 4 * i);
    }
    return true;
}
