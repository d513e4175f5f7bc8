// Reads arbitrary bytes as one received frame with the bounded reader, then
// uses every record the way the display does: the getter its data type
// admits, and its catalogue name.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <skarvel/catalogue/message_name_list.h>
#include <skarvel/shared/input/tm_message_stream.h>

namespace {

void check(bool condition)
{
    if (!condition) __builtin_trap();
}

void check_string(const tm_fixed_string& s, std::uint32_t max_length)
{
    check(s.GetLength() <= max_length);
    check(std::strlen(s.GetCString()) == s.GetLength());
    for (std::uint32_t i = s.GetLength(); i < tm_fixed_string::capacity; ++i) check(s.data()[i] == 0);
}

// Reads the value the way its data type admits; never a mismatched getter.
void read_value(const tm_external_message& m)
{
    volatile double sink = 0.0;
    switch (m.GetDataType()) {
        case tm_msg_data_type::Int: sink = static_cast<double>(m.GetInt()); break;
        case tm_msg_data_type::Double: sink = m.GetDouble(); break;
        case tm_msg_data_type::Vector2d: check(m.GetVector2d().z == 0.0); break;
        case tm_msg_data_type::Vector3d: sink = m.GetVector3d().z; break;
        case tm_msg_data_type::Vector4d: sink = m.GetVector4d().w; break;
        case tm_msg_data_type::String: check_string(m.GetString(), 32); break;
        case tm_msg_data_type::String8: check_string(m.GetString(), 64); break;
        default: break;
    }
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t position = 0;
    tm_external_message edm;
    while (read_message_bounded(data, size, position, edm)) {
        // Where the bounded reader accepts a message, the host's reader
        // takes the same bytes and the same step.
        const std::uint32_t before = position - tm_message_extent(edm.Header.Size);
        std::uint32_t unbounded_position = before;
        const tm_external_message same = read_message(data, unbounded_position);
        check(unbounded_position == position && position <= size && position > before);
        check(std::memcmp(&same, &edm, sizeof edm) == 0);

        read_value(edm);
        check_string(get_message_name(edm), 39);
    }
    check(position <= size);
    return 0;
}
