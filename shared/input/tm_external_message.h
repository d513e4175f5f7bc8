// The message record: a 64-byte header that names a value by its identifier
// and gives its data type, followed by a 64-byte value area. The same layout
// is one message of the host's byte stream; all multi-byte fields are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "tm_byte_order.h"
#include "tm_fixed_string.h"
#include "tm_msg_assert.h"
#include "tm_msg_id.h"

enum class tm_msg_data_type : std::uint8_t {
    None = 0,
    Int = 1,
    Double = 2,
    Vector2d = 3,
    Vector3d = 4,
    Vector4d = 5,
    String = 6,
    String8 = 7,
};

class tm_msg_flags {
public:
    constexpr tm_msg_flags() noexcept = default;
    constexpr explicit tm_msg_flags(std::uint32_t value) noexcept : value_(value) {}
    // The whole 64-bit field of a header, as it stands.
    static constexpr tm_msg_flags from_field(std::uint64_t field) noexcept
    {
        tm_msg_flags f;
        f.value_ = field;
        return f;
    }
    constexpr std::uint64_t GetValue() const noexcept { return value_; }

private:
    std::uint64_t value_ = 0;
};

// The flag sets the host puts on the simulation time and on the motion
// vectors, which the predefined records of the motion broadcast carry too.
// Their bits are the host's; nothing here reads them.
inline constexpr tm_msg_flags simulation_time_flags{0x06000040};
inline constexpr tm_msg_flags motion_vector_flags{0x02000040};

struct tm_vector3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct tm_vector4d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 0.0;
};

struct tm_msg_header {
    std::uint16_t Magic = 0xAAAA;
    std::uint16_t Size = 64;
    std::uint32_t Reserved4 = 0;
    std::uint64_t Reserved8 = 0;
    std::uint64_t ID = 0;
    std::uint8_t Reserved24 = 0;
    tm_msg_data_type DataType = tm_msg_data_type::None;
    std::uint8_t Reserved26 = 1;
    std::uint8_t Reserved27 = 0;
    std::uint32_t Reserved28 = 0;
    std::uint64_t Reserved32 = 0;
    std::uint64_t Reserved40 = 0;
    std::uint64_t Reserved48 = 0;
    std::uint64_t Flags = 0;
};

class tm_external_message {
public:
    static constexpr std::uint32_t header_size = 64;
    static constexpr std::uint32_t data_size = 64;

    tm_msg_header Header;
    std::uint8_t Data[data_size] = {};

    constexpr tm_external_message() noexcept = default;

    constexpr tm_external_message(tm_msg_id id, tm_msg_data_type type, tm_msg_flags flags) noexcept
    {
        Header.ID = id.GetValue();
        Header.DataType = type;
        Header.Flags = flags.GetValue();
    }

    static constexpr std::uint32_t GetMaxDataSize() noexcept { return data_size; }

    constexpr tm_msg_data_type GetDataType() const noexcept { return Header.DataType; }
    constexpr std::uint64_t GetID() const noexcept { return Header.ID; }
    constexpr tm_msg_flags GetFlags() const noexcept { return tm_msg_flags::from_field(Header.Flags); }

    std::int64_t GetInt() const noexcept
    {
        TM_MSG_REQUIRE(Header.DataType == tm_msg_data_type::Int, 820);
        return static_cast<std::int64_t>(tm_byte_order::load_u64_le(Data));
    }

    double GetDouble() const noexcept
    {
        TM_MSG_REQUIRE(Header.DataType == tm_msg_data_type::Double, 826);
        return tm_byte_order::load_f64_le(Data);
    }

    tm_vector3d GetVector2d() const noexcept
    {
        TM_MSG_REQUIRE(Header.DataType == tm_msg_data_type::Vector2d, 833);
        return {component(0), component(1), 0.0};
    }

    tm_vector3d GetVector3d() const noexcept
    {
        TM_MSG_REQUIRE(Header.DataType == tm_msg_data_type::Vector3d, 840);
        return {component(0), component(1), component(2)};
    }

    tm_vector4d GetVector4d() const noexcept
    {
        TM_MSG_REQUIRE(Header.DataType == tm_msg_data_type::Vector4d, 847);
        return {component(0), component(1), component(2), component(3)};
    }

    // String: up to 32 little-endian 16-bit units; String8: up to 64 bytes.
    // Any other type gives the empty string.
    tm_fixed_string GetString() const noexcept
    {
        TM_MSG_REQUIRE(Header.DataType == tm_msg_data_type::String || Header.DataType == tm_msg_data_type::String8,
                       854);
        if (Header.DataType == tm_msg_data_type::String) {
            char16_t units[data_size / 2];
            for (std::size_t i = 0; i < data_size / 2; ++i)
                units[i] = static_cast<char16_t>(Data[2 * i] | (Data[2 * i + 1] << 8));
            return tm_fixed_string::from_units(units, data_size / 2);
        }
        if (Header.DataType == tm_msg_data_type::String8)
            return tm_fixed_string::from_chars(reinterpret_cast<const char*>(Data), data_size);
        return tm_fixed_string();
    }

private:
    double component(std::size_t index) const noexcept { return tm_byte_order::load_f64_le(Data + 8 * index); }
};

// The record is the wire layout of one message: prove it where it is built.
// Header fields are native integers copied byte for byte from the stream,
// which is right on little-endian machines, every Windows target among them.
#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "header fields are little-endian");
#endif
static_assert(sizeof(tm_msg_header) == 64);
static_assert(sizeof(tm_external_message) == 128);
static_assert(std::is_trivially_copyable_v<tm_external_message>);
static_assert(std::is_standard_layout_v<tm_external_message>);
static_assert(offsetof(tm_msg_header, Magic) == 0);
static_assert(offsetof(tm_msg_header, Size) == 2);
static_assert(offsetof(tm_msg_header, Reserved4) == 4);
static_assert(offsetof(tm_msg_header, Reserved8) == 8);
static_assert(offsetof(tm_msg_header, ID) == 16);
static_assert(offsetof(tm_msg_header, Reserved24) == 24);
static_assert(offsetof(tm_msg_header, DataType) == 25);
static_assert(offsetof(tm_msg_header, Reserved26) == 26);
static_assert(offsetof(tm_msg_header, Reserved27) == 27);
static_assert(offsetof(tm_msg_header, Reserved28) == 28);
static_assert(offsetof(tm_msg_header, Reserved32) == 32);
static_assert(offsetof(tm_msg_header, Reserved40) == 40);
static_assert(offsetof(tm_msg_header, Reserved48) == 48);
static_assert(offsetof(tm_msg_header, Flags) == 56);
static_assert(offsetof(tm_external_message, Header) == 0);
static_assert(offsetof(tm_external_message, Data) == 64);
