#include "tools/validate/stream_frames.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>

#include <skarvel/shared/input/tm_byte_order.h>
#include <skarvel/shared/input/tm_external_message.h>
#include <skarvel/shared/input/tm_message_list.h>

#include "tools/common/flight_scenario.h"
#include "tools/common/message_builder.h"
#include "tools/common/stream_encoding.h"

namespace validate {

using tools::make_double;
using tools::make_vector3d;

std::uint64_t split_mix::next() noexcept
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

namespace {

constexpr tm_msg_id simulation_time("Simulation.Time");
constexpr tm_msg_id velocity("Aircraft.Velocity");
constexpr tm_msg_id angular_velocity("Aircraft.AngularVelocity");
constexpr std::uint64_t simulation_time_id = simulation_time.GetValue();
constexpr std::uint64_t velocity_id = velocity.GetValue();
constexpr std::uint64_t angular_velocity_id = angular_velocity.GetValue();

test_frame frame_of(std::string what, const tm_message_list& messages)
{
    test_frame frame;
    frame.what = std::move(what);
    tools::encode_stream(messages, frame.stream);
    frame.count = static_cast<std::uint32_t>(messages.size());
    return frame;
}

// The built-in flight's messages some seconds into it: about forty, every
// data type among them.
tm_message_list flight_messages(double seconds)
{
    tools::flight_scenario flight;
    for (double t = 0.0; t < seconds; t += 0.1) flight.advance(0.1);
    tm_message_list messages;
    tools::make_scenario_frame(flight.state(), messages);
    return messages;
}

tm_external_message with_size(tm_external_message message, std::uint16_t size)
{
    message.Header.Size = size;
    return message;
}

// A message with any identifier, type and Size, its value area filled.
tm_external_message raw(std::uint64_t id, std::uint8_t type, std::uint16_t size, std::uint8_t fill)
{
    tm_external_message message;
    message.Header.ID = id;
    message.Header.DataType = static_cast<tm_msg_data_type>(type);
    message.Header.Flags = tools::value_flags.GetValue();
    message.Header.Size = size;
    std::memset(message.Data, fill, sizeof message.Data);
    return message;
}

double from_bits(std::uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const double special_values[] = {
    std::numeric_limits<double>::quiet_NaN(),
    from_bits(0x7FF0000000000001ull),  // signalling NaN
    from_bits(0xFFF8000000000000ull),  // negative NaN
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::max(),
    std::numeric_limits<double>::lowest(),
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    -0.0,
    1e300,
    -4.3e9,  // beyond a 32-bit microsecond count
    9.3e12,  // beyond a 64-bit microsecond count
};

}  // namespace

std::vector<test_frame> data_type_frames()
{
    std::vector<test_frame> frames;
    for (double seconds : {0.0, 11.0, 40.0}) {
        frames.push_back(frame_of("the built-in flight at " + std::to_string(static_cast<int>(seconds)) + " s",
                                  flight_messages(seconds)));
    }

    const tm_msg_id id("Aircraft.Altitude");
    const tm_message_list every_type = {
        tools::make_none(id),
        tools::make_int(id, -1234567890123),
        make_double(simulation_time, 12.5, simulation_time_flags),
        tools::make_vector2d(id, 1.5, -2.0),
        make_vector3d(velocity, {1.0, 2.0, 3.0}),
        make_vector3d(angular_velocity, {-0.5, 0.25, 0.125}),
        tools::make_vector4d(id, {0.0, 0.0, 0.0, 1.0}),
        tools::make_string(id, "Skarvel"),
        tools::make_string8(id, "XSKV"),
    };
    frames.push_back(frame_of("one message of each data type", every_type));

    // Each value cut short: the stream carries fewer value bytes than the
    // type has, down to none.
    tm_message_list short_values;
    for (const tm_external_message& message : every_type) {
        short_values.push_back(with_size(message, 64));
        if (message.Header.Size > 65)
            short_values.push_back(with_size(message, static_cast<std::uint16_t>(message.Header.Size - 1)));
    }
    frames.push_back(frame_of("each value cut short", short_values));

    // Strings that fill the value area, without a zero at the end.
    tm_external_message string16 = raw(id.GetValue(), 6, 128, 0);
    for (int unit = 0; unit < 32; ++unit) {
        const int letter = 0x41 + unit % 26;
        tm_byte_order::store_u16_le(string16.Data + std::ptrdiff_t{2} * unit,
                                    static_cast<std::uint16_t>(unit % 3 ? letter : 0x100 + letter));
    }
    frames.push_back(frame_of("strings of full length", {string16, raw(id.GetValue(), 7, 128, 'x')}));
    return frames;
}

std::vector<test_frame> unknown_identifier_frames()
{
    std::vector<test_frame> frames;
    frames.push_back(frame_of("identifiers no catalogue knows",
                              {raw(0, 2, 72, 0x11), raw(~0ull, 4, 88, 0x22), raw(0x0123456789ABCDEFull, 7, 100, 'a'),
                               raw(tm_msg_id("No.Such.Message").GetValue(), 5, 96, 0x33)}));
    tm_message_list types;
    const std::uint64_t mass_id = tm_msg_id("Aircraft.Mass").GetValue();
    for (unsigned type = 8; type <= 255; ++type)
        types.push_back(raw(type % 2 ? velocity_id : mass_id, static_cast<std::uint8_t>(type),
                            static_cast<std::uint16_t>(64 + type % 65), static_cast<std::uint8_t>(type)));
    frames.push_back(frame_of("data types 8 to 255", types));
    frames.push_back(frame_of("the motion names with other data types and short values",
                              {raw(simulation_time_id, 7, 70, 'T'), raw(velocity_id, 1, 72, 0x7F),
                               raw(angular_velocity_id, 0, 64, 0), raw(simulation_time_id, 6, 66, 0x41),
                               raw(velocity_id, 2, 65, 0xFF), raw(angular_velocity_id, 3, 80, 0x3F)}));
    return frames;
}

std::vector<test_frame> size_frames()
{
    std::vector<test_frame> frames;
    for (const std::uint16_t size : {std::uint16_t{0}, std::uint16_t{63}, std::uint16_t{64}, std::uint16_t{65},
                                     std::uint16_t{128}, std::uint16_t{129}, std::uint16_t{65535}}) {
        for (bool followed : {false, true}) {
            const tm_external_message message = raw(simulation_time_id, 2, size, 0x40);
            tm_message_list messages = {message};
            if (followed) messages.push_back(make_double(simulation_time, 3.25, simulation_time_flags));
            test_frame frame = frame_of(
                "Size " + std::to_string(size) + (followed ? " before the simulation time" : " alone"), messages);
            // Room for readers that take a whole record for a Size below 64
            // or above 128, and then the next one.
            frame.stream.resize(frame.stream.size() + 2 * sizeof(tm_external_message));
            frames.push_back(std::move(frame));
        }
    }
    return frames;
}

std::vector<test_frame> special_value_frames()
{
    std::vector<test_frame> frames;
    const tm_msg_id other("Aircraft.Altitude");
    for (double value : special_values) {
        char what[64];
        std::snprintf(what, sizeof what, "the value %g", value);
        frames.push_back(frame_of(what, {make_double(simulation_time, value, simulation_time_flags),
                                         make_vector3d(velocity, {value, -value, value}),
                                         make_vector3d(angular_velocity, {value, value, -value}),
                                         make_double(other, value), tools::make_vector2d(other, value, value),
                                         tools::make_vector4d(other, {value, value, value, value})}));
    }
    frames.push_back(frame_of("the extremes of Int", {tools::make_int(other, std::numeric_limits<std::int64_t>::min()),
                                                      tools::make_int(other, std::numeric_limits<std::int64_t>::max()),
                                                      tools::make_int(other, -1)}));
    return frames;
}

test_frame large_frame(std::uint32_t messages, std::uint64_t variant)
{
    const tm_message_list names = flight_messages(static_cast<double>(variant % 60));
    tm_message_list list;
    list.reserve(messages);
    for (std::uint32_t i = 0; i < messages; ++i) list.push_back(names[(i + variant) % names.size()]);
    return frame_of(std::to_string(messages) + " messages", list);
}

test_frame random_frame(std::uint64_t seed, std::uint64_t index)
{
    static const tm_message_list known = flight_messages(20.0);
    // One generator per frame, so that any frame replays on its own.
    split_mix random(seed ^ (index * 0xD1B54A32D192ED03ull));
    for (int i = 0; i < 4; ++i) random.next();

    const std::uint64_t shape = random.below(10);
    const std::uint64_t count = shape == 0 ? 0 : shape < 7 ? random.below(60) : random.below(301);
    tm_message_list list;
    for (std::uint64_t i = 0; i < count; ++i) {
        tm_external_message message;
        const std::uint64_t pick = random.below(8);
        if (pick < 5) {
            message = known[random.below(known.size())];
        } else {
            message.Header.ID = pick == 5 ? random.next() : pick == 6 ? simulation_time_id : velocity_id;
            const std::uint64_t type = random.below(4) == 0 ? random.below(256) : random.below(8);
            message.Header.DataType = static_cast<tm_msg_data_type>(type);
            for (std::size_t at = 0; at < sizeof message.Data; at += 8) {
                const double special = special_values[random.below(std::size(special_values))];
                if (random.below(3) == 0)
                    tm_byte_order::store_f64_le(message.Data + at, special);
                else
                    tm_byte_order::store_u64_le(message.Data + at, random.next());
            }
        }
        message.Header.Size = static_cast<std::uint16_t>(64 + random.below(65));
        if (random.below(4) == 0) {
            message.Header.Magic = static_cast<std::uint16_t>(random.next());
            message.Header.Flags = random.next();
            message.Header.Reserved8 = random.next();
            message.Header.Reserved26 = static_cast<std::uint8_t>(random.next());
        }
        list.push_back(message);
    }
    test_frame frame = frame_of("random frame " + std::to_string(index) + " of seed " + std::to_string(seed), list);
    frame.time_step = random.below(8) == 0 ? 0.0 : 1.0 / static_cast<double>(30 + random.below(91));
    return frame;
}

}  // namespace validate
