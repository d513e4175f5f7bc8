// Message records and host byte streams for tests, made with the host
// simulator's own builders; flags default to those the host sets.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_list.h>

#include "tools/common/message_builder.h"
#include "tools/common/stream_encoding.h"

namespace test_messages {

inline tm_external_message make_double(tm_msg_id id, double value, tm_msg_flags flags = simulation_time_flags)
{
    return tools::make_double(id, value, flags);
}

inline tm_external_message make_vector3d(tm_msg_id id, double x, double y, double z,
                                         tm_msg_flags flags = motion_vector_flags)
{
    return tools::make_vector3d(id, {x, y, z}, flags);
}

inline tm_external_message make_int(tm_msg_id id, std::int64_t value)
{
    return tools::make_int(id, value, tm_msg_flags(0));
}

inline tm_external_message simulation_time(double seconds)
{
    return make_double(tm_msg_id("Simulation.Time"), seconds);
}

inline tm_external_message velocity(double x, double y, double z)
{
    return make_vector3d(tm_msg_id("Aircraft.Velocity"), x, y, z);
}

inline tm_external_message angular_velocity(double x, double y, double z)
{
    return make_vector3d(tm_msg_id("Aircraft.AngularVelocity"), x, y, z);
}

// The stream the host would send for these records.
inline std::vector<std::uint8_t> stream_of(const tm_message_list& frame)
{
    std::vector<std::uint8_t> stream;
    tools::encode_stream(frame, stream);
    return stream;
}

inline bool same_records(const tm_message_list& a, const tm_message_list& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

}  // namespace test_messages
