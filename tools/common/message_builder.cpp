#include "tools/common/message_builder.h"

#include <algorithm>

#include <skarvel/shared/input/tm_byte_order.h>

namespace tools {

using namespace tm_byte_order;
namespace {

tm_external_message make(tm_msg_id id, tm_msg_data_type type, tm_msg_flags flags, std::uint32_t value_bytes) noexcept
{
    tm_external_message m(id, type, flags);
    m.Header.Size = static_cast<std::uint16_t>(tm_external_message::header_size + value_bytes);
    return m;
}

}  // namespace

tm_external_message make_none(tm_msg_id id, tm_msg_flags flags) noexcept
{
    return make(id, tm_msg_data_type::None, flags, 0);
}

tm_external_message make_int(tm_msg_id id, std::int64_t value, tm_msg_flags flags) noexcept
{
    tm_external_message m = make(id, tm_msg_data_type::Int, flags, 8);
    store_u64_le(m.Data, static_cast<std::uint64_t>(value));
    return m;
}

tm_external_message make_double(tm_msg_id id, double value, tm_msg_flags flags) noexcept
{
    tm_external_message m = make(id, tm_msg_data_type::Double, flags, 8);
    store_f64_le(m.Data, value);
    return m;
}

tm_external_message make_vector2d(tm_msg_id id, double x, double y, tm_msg_flags flags) noexcept
{
    tm_external_message m = make(id, tm_msg_data_type::Vector2d, flags, 16);
    store_f64_le(m.Data, x);
    store_f64_le(m.Data + 8, y);
    return m;
}

tm_external_message make_vector3d(tm_msg_id id, const tm_vector3d& v, tm_msg_flags flags) noexcept
{
    tm_external_message m = make(id, tm_msg_data_type::Vector3d, flags, 24);
    store_f64_le(m.Data, v.x);
    store_f64_le(m.Data + 8, v.y);
    store_f64_le(m.Data + 16, v.z);
    return m;
}

tm_external_message make_vector4d(tm_msg_id id, const tm_vector4d& v, tm_msg_flags flags) noexcept
{
    tm_external_message m = make(id, tm_msg_data_type::Vector4d, flags, 32);
    store_f64_le(m.Data, v.x);
    store_f64_le(m.Data + 8, v.y);
    store_f64_le(m.Data + 16, v.z);
    store_f64_le(m.Data + 24, v.w);
    return m;
}

tm_external_message make_string(tm_msg_id id, std::string_view text, tm_msg_flags flags) noexcept
{
    constexpr std::size_t max_units = tm_external_message::data_size / 2;
    const std::size_t units = std::min(text.size(), max_units);
    const std::size_t with_zero = std::min(units + 1, max_units);
    tm_external_message m = make(id, tm_msg_data_type::String, flags, static_cast<std::uint32_t>(2 * with_zero));
    for (std::size_t i = 0; i < units; ++i) store_u16_le(m.Data + 2 * i, static_cast<unsigned char>(text[i]));
    return m;
}

tm_external_message make_string8(tm_msg_id id, std::string_view text, tm_msg_flags flags) noexcept
{
    constexpr std::size_t max_bytes = tm_external_message::data_size;
    const std::size_t bytes = std::min(text.size(), max_bytes);
    const std::size_t with_zero = std::min(bytes + 1, max_bytes);
    tm_external_message m = make(id, tm_msg_data_type::String8, flags, static_cast<std::uint32_t>(with_zero));
    std::copy_n(text.data(), bytes, m.Data);
    return m;
}

}  // namespace tools
