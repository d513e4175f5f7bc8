#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "telemetry/motion_datagram.h"
#include "tests/support/message_builder.h"

namespace {

using namespace test_messages;
using bytes = std::vector<std::uint8_t>;

bytes as_bytes(const motion_datagram& d)
{
    return bytes(d.begin(), d.end());
}

bytes slice(const motion_datagram& d, std::size_t offset)
{
    return bytes(d.begin() + offset, d.begin() + offset + 4);
}

motion_datagram encode_frame(const tm_message_list& frame)
{
    return encode_motion_datagram(select_motion(frame));
}

TEST(MotionSelection, TakesTheThreeValuesByIdentifier)
{
    const motion_sample s = select_motion({velocity(1, 2, 3), simulation_time(12.5), angular_velocity(-4, 5, -6)});
    EXPECT_EQ(s.simulation_time, 12.5);
    EXPECT_EQ(s.aircraft_velocity.x, 1);
    EXPECT_EQ(s.aircraft_velocity.y, 2);
    EXPECT_EQ(s.aircraft_velocity.z, 3);
    EXPECT_EQ(s.aircraft_angularvelocity.x, -4);
    EXPECT_EQ(s.aircraft_angularvelocity.y, 5);
    EXPECT_EQ(s.aircraft_angularvelocity.z, -6);
}

TEST(MotionSelection, LastOccurrenceWins)
{
    const motion_sample s = select_motion({simulation_time(1.0), velocity(1, 1, 1), simulation_time(2.0),
                                           velocity(7, 8, 9), angular_velocity(1, 1, 1), angular_velocity(3, 2, 1)});
    EXPECT_EQ(s.simulation_time, 2.0);
    EXPECT_EQ(s.aircraft_velocity.x, 7);
    EXPECT_EQ(s.aircraft_velocity.z, 9);
    EXPECT_EQ(s.aircraft_angularvelocity.x, 3);
}

TEST(MotionSelection, OtherMessagesAndMissingOnesLeaveZeros)
{
    const motion_sample s = select_motion({make_vector3d(tm_msg_id("Aircraft.Acceleration"), 5, 6, 7),
                                           make_vector3d(tm_msg_id("Aircraft.Gravity"), 0, 0, -9.81),
                                           make_double(tm_msg_id("Aircraft.Altitude"), 1000.0)});
    EXPECT_EQ(s.simulation_time, 0.0);
    EXPECT_EQ(s.aircraft_velocity.x, 0.0);
    EXPECT_EQ(s.aircraft_velocity.y, 0.0);
    EXPECT_EQ(s.aircraft_velocity.z, 0.0);
    EXPECT_EQ(s.aircraft_angularvelocity.z, 0.0);
}

TEST(MotionSelection, ComparesIdentifiersOnlyNotFlags)
{
    const motion_sample s = select_motion({make_double(tm_msg_id("Simulation.Time"), 3.25, tm_msg_flags(0xFFFFFFFF))});
    EXPECT_EQ(s.simulation_time, 3.25);
}

TEST(MotionSelection, PassesOverARecordOfAnotherDataType)
{
    // An Int "Simulation.Time" whose value bytes would read as 1.0 if taken
    // for a double, after a proper one: the proper value stays.
    tm_external_message wrong_time = make_int(tm_msg_id("Simulation.Time"), 0x3FF0000000000000);
    tm_external_message wrong_velocity = make_double(tm_msg_id("Aircraft.Velocity"), 99.0);
    const motion_sample s = select_motion({simulation_time(4.0), velocity(1, 2, 3), wrong_time, wrong_velocity});
    EXPECT_EQ(s.simulation_time, 4.0);
    EXPECT_EQ(s.aircraft_velocity.x, 1.0);
    EXPECT_EQ(s.aircraft_velocity.y, 2.0);
}

TEST(MotionTimeField, MicrosecondsModulo2To32)
{
    EXPECT_EQ(motion_time_field(1.5), 1500000u);
    EXPECT_EQ(motion_time_field(4295.0), 32704u);  // 4 295 000 000 wraps
    EXPECT_EQ(motion_time_field(-1.0), 4293967296u);  // -1 000 000, low 32 bits
    EXPECT_EQ(motion_time_field(0.0), 0u);
    EXPECT_EQ(motion_time_field(4e12), static_cast<std::uint32_t>(4000000000000000000ull));
}

TEST(MotionTimeField, TruncatesTowardZero)
{
    EXPECT_EQ(motion_time_field(1.0000009), 1000000u);  // 1 000 000.9 us
    EXPECT_EQ(motion_time_field(0.0000009), 0u);
    EXPECT_EQ(motion_time_field(-0.0000015), 0xFFFFFFFFu);  // -1.5 us gives -1
    EXPECT_EQ(motion_time_field(-0.0000009), 0u);
}

TEST(MotionTimeField, NotANumberAndOutOfRangeAreDefined)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(motion_time_field(std::numeric_limits<double>::quiet_NaN()), 0u);
    // Saturated to the signed 64-bit limits, then their low 32 bits.
    EXPECT_EQ(motion_time_field(inf), 0xFFFFFFFFu);
    EXPECT_EQ(motion_time_field(1e300), 0xFFFFFFFFu);
    EXPECT_EQ(motion_time_field(1e13), 0xFFFFFFFFu);
    EXPECT_EQ(motion_time_field(-inf), 0u);
    EXPECT_EQ(motion_time_field(-1e300), 0u);
}

TEST(MotionDatagram, FrameWithoutTheThreeMessages)
{
    bytes expected(32, 0);
    expected[0] = 0x47;
    expected[2] = 0x4D;
    expected[3] = 0x04;
    EXPECT_EQ(as_bytes(encode_frame({make_int(tm_msg_id("Aircraft.Gear"), 1)})), expected);
}

TEST(MotionDatagram, WholeLayout)
{
    const motion_datagram d = encode_frame({simulation_time(1.5), velocity(1, 2, 3), angular_velocity(-2, 0.5, -0.0)});
    const bytes expected{0x47, 0x00, 0x4D, 0x04, 0x60, 0xE3, 0x16, 0x00,  // marker, time
                         0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,  // 1, 2
                         0x00, 0x00, 0x40, 0x40, 0x00, 0x00, 0x00, 0xC0,  // 3, -2
                         0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x80};  // 0.5, -0
    EXPECT_EQ(as_bytes(d), expected);
}

TEST(MotionDatagram, FloatsAreNearestSingleTiesToEven)
{
    // 0.1 lies nearer 0x3DCCCCCD than the truncated 0x3DCCCCCC.
    EXPECT_EQ(slice(encode_frame({velocity(0.1, 0, 0)}), 8), (bytes{0xCD, 0xCC, 0xCC, 0x3D}));
    // Halfway between two singles: the even one.
    const double half_up = 1.0 + std::ldexp(1.0, -24);
    const double three_halves_up = 1.0 + 3 * std::ldexp(1.0, -24);
    const motion_datagram d = encode_frame({velocity(half_up, three_halves_up, 1e300)});
    EXPECT_EQ(slice(d, 8), (bytes{0x00, 0x00, 0x80, 0x3F}));
    EXPECT_EQ(slice(d, 12), (bytes{0x02, 0x00, 0x80, 0x3F}));
    EXPECT_EQ(slice(d, 16), (bytes{0x00, 0x00, 0x80, 0x7F}));  // beyond the single range: infinity
}

TEST(MotionDatagram, DecodesWhatWasEncoded)
{
    const motion_datagram d =
        encode_frame({simulation_time(4295.0), velocity(1.25, -2, 3), angular_velocity(0.5, 0.25, -8)});
    decoded_motion m;
    ASSERT_TRUE(decode_motion_datagram(d.data(), d.size(), m));
    EXPECT_EQ(m.time_us, 32704u);
    EXPECT_EQ(m.velocity[0], 1.25f);
    EXPECT_EQ(m.velocity[1], -2.0f);
    EXPECT_EQ(m.velocity[2], 3.0f);
    EXPECT_EQ(m.angular_velocity[0], 0.5f);
    EXPECT_EQ(m.angular_velocity[1], 0.25f);
    EXPECT_EQ(m.angular_velocity[2], -8.0f);
}

TEST(MotionDatagram, DecodeRejectsWrongLengthOrMarker)
{
    motion_datagram d = encode_frame({simulation_time(1.0)});
    decoded_motion m;
    EXPECT_FALSE(decode_motion_datagram(d.data(), 31, m));
    std::uint8_t longer[33] = {};
    std::copy(d.begin(), d.end(), longer);
    EXPECT_FALSE(decode_motion_datagram(longer, sizeof longer, m));
    EXPECT_FALSE(decode_motion_datagram(nullptr, 32, m));
    d[3] = 0x05;
    EXPECT_FALSE(decode_motion_datagram(d.data(), d.size(), m));
}

}  // namespace
