// Message records and host byte streams made for tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "shared/input/tm_external_message.h"
#include "shared/input/tm_message_list.h"

namespace test_messages {

inline void put_f64(std::uint8_t* out, double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

inline tm_external_message make_double(tm_msg_id id, double value, std::uint32_t flags = 0x06000040)
{
    tm_external_message m(id, tm_msg_data_type::Double, tm_msg_flags(flags));
    m.Header.Size = 64 + 8;
    put_f64(m.Data, value);
    return m;
}

inline tm_external_message make_vector3d(tm_msg_id id, double x, double y, double z,
                                         std::uint32_t flags = 0x02000040)
{
    tm_external_message m(id, tm_msg_data_type::Vector3d, tm_msg_flags(flags));
    m.Header.Size = 64 + 24;
    put_f64(m.Data, x);
    put_f64(m.Data + 8, y);
    put_f64(m.Data + 16, z);
    return m;
}

inline tm_external_message make_int(tm_msg_id id, std::int64_t value)
{
    tm_external_message m(id, tm_msg_data_type::Int, tm_msg_flags(0));
    m.Header.Size = 64 + 8;
    for (int i = 0; i < 8; ++i) m.Data[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    return m;
}

inline tm_external_message simulation_time(double seconds) { return make_double(tm_msg_id("Simulation.Time"), seconds); }

inline tm_external_message velocity(double x, double y, double z)
{
    return make_vector3d(tm_msg_id("Aircraft.Velocity"), x, y, z);
}

inline tm_external_message angular_velocity(double x, double y, double z)
{
    return make_vector3d(tm_msg_id("Aircraft.AngularVelocity"), x, y, z);
}

// The stream form of a record: its 64-byte header, then Size - 64 value bytes.
inline void append(std::vector<std::uint8_t>& stream, const tm_external_message& m)
{
    const auto* header = reinterpret_cast<const std::uint8_t*>(&m.Header);
    stream.insert(stream.end(), header, header + 64);
    const std::size_t value_bytes = m.Header.Size > 64 ? m.Header.Size - 64u : 0u;
    stream.insert(stream.end(), m.Data, m.Data + value_bytes);
}

inline std::vector<std::uint8_t> stream_of(const tm_message_list& frame)
{
    std::vector<std::uint8_t> stream;
    for (const tm_external_message& m : frame) append(stream, m);
    return stream;
}

inline bool same_records(const tm_message_list& a, const tm_message_list& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

}  // namespace test_messages
