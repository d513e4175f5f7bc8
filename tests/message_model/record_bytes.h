// Records with a chosen data type and leading value bytes, for the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <skarvel/shared/input/tm_external_message.h>

inline tm_external_message record_of(tm_msg_data_type type, std::initializer_list<std::uint8_t> value)
{
    tm_external_message m;
    m.Header.DataType = type;
    std::size_t i = 0;
    for (std::uint8_t b : value) m.Data[i++] = b;
    return m;
}

// Stores `v` as a little-endian double at value bytes 8 * index.
inline void put_double(tm_external_message& m, int index, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) m.Data[8 * index + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}
