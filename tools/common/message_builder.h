// Makes the records a host sends: one named value of each data type, with
// the header's Size set to the bytes the value occupies in the stream.
#pragma once

#include <cstdint>
#include <string_view>

#include <skarvel/shared/input/tm_external_message.h>

namespace tools {

// Flags the host sets on values other than the simulation time and the
// motion vectors (simulation_time_flags, motion_vector_flags).
inline constexpr tm_msg_flags value_flags{0x00000040};

tm_external_message make_none(tm_msg_id id, tm_msg_flags flags = value_flags) noexcept;
tm_external_message make_int(tm_msg_id id, std::int64_t value, tm_msg_flags flags = value_flags) noexcept;
tm_external_message make_double(tm_msg_id id, double value, tm_msg_flags flags = value_flags) noexcept;
tm_external_message make_vector2d(tm_msg_id id, double x, double y, tm_msg_flags flags = value_flags) noexcept;
tm_external_message make_vector3d(tm_msg_id id, const tm_vector3d& v,
                                  tm_msg_flags flags = motion_vector_flags) noexcept;
tm_external_message make_vector4d(tm_msg_id id, const tm_vector4d& v, tm_msg_flags flags = value_flags) noexcept;

// String: 16-bit units, one per character of `text` (Latin-1), at most 32;
// a shorter text carries its zero unit. String8: at most 64 bytes, likewise.
tm_external_message make_string(tm_msg_id id, std::string_view text, tm_msg_flags flags = value_flags) noexcept;
tm_external_message make_string8(tm_msg_id id, std::string_view text, tm_msg_flags flags = value_flags) noexcept;

}  // namespace tools
