#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "plugin/frame_update.h"
#include "tests/support/failing_new.h"
#include "tests/support/message_builder.h"
#include "tests/support/motion_receiver.h"
#include "tests/support/open_sockets.h"
#include "tests/support/private_network.h"

namespace {

using namespace test_messages;
using bytes = std::vector<std::uint8_t>;

// The plug-in's per-frame objects and the display's side of the hand-off.
// Receiving sends nothing: these cases run anywhere.
class FrameReceive : public ::testing::Test {
protected:
    // Everything of one Update but the broadcast, with outputs that start
    // non-zero.
    void receive(double time_step, const tm_message_list& messages)
    {
        output1 = 7;
        output2 = -7;
        const bytes stream = stream_of(messages);
        receive_frame(frame, handoff, time_step, stream.data(), static_cast<std::uint32_t>(messages.size()), &output1,
                      &output2);
    }

    // What a paint would find: true when a new frame was there.
    bool paint()
    {
        const double before = shown_time_step;
        const tm_message_list previous = shown;
        handoff.take_latest(shown, shown_time_step);
        return before != shown_time_step || !same_records(previous, shown);
    }

    tm_message_list frame;
    handoff_state handoff;
    std::int32_t output1 = 0;
    std::int32_t output2 = 0;
    tm_message_list shown;
    double shown_time_step = 0.0;
};

// Whole Updates, with a receiver of their broadcast: these cases send, and
// run only inside a private network namespace.
class FrameUpdate : public FrameReceive {
protected:
    void SetUp() override
    {
        SKIP_UNLESS_PRIVATE_NETWORK();
        ASSERT_TRUE(receiver.is_bound());
    }

    // One Update with outputs that start non-zero.
    void update(double time_step, const bytes& stream, std::uint32_t count)
    {
        output1 = 7;
        output2 = -7;
        update_frame({frame, handoff, broadcaster}, time_step, stream.data(), count, &output1, &output2);
    }

    void update(double time_step, const tm_message_list& messages)
    {
        update(time_step, stream_of(messages), static_cast<std::uint32_t>(messages.size()));
    }

    std::optional<bytes> datagram(int timeout_ms = 2000)
    {
        return receiver.receive(broadcaster.local_port(), timeout_ms);
    }

    udp_broadcaster broadcaster;
    motion_receiver receiver{50001};
};

TEST_F(FrameUpdate, ReadsTheCountedMessagesInOrderAndHandsThemOff)
{
    tm_external_message short_one = make_int(tm_msg_id("Aircraft.Gear"), 1);
    short_one.Header.Size = 60;  // no value bytes in the stream
    std::fill(std::begin(short_one.Data), std::end(short_one.Data), 0);
    const tm_message_list messages{simulation_time(3.0), short_one, velocity(1, 2, 3),
                                   make_double(tm_msg_id("Aircraft.Altitude"), 250.0)};
    update(0.016, messages);

    EXPECT_TRUE(same_records(frame, messages));
    EXPECT_EQ(output1, 0);
    EXPECT_EQ(output2, 0);
    ASSERT_TRUE(paint());
    EXPECT_TRUE(same_records(shown, messages));
    EXPECT_EQ(shown_time_step, 0.016);
    EXPECT_TRUE(datagram());
}

TEST_F(FrameReceive, ReadsNoMoreThanTheCount)
{
    const tm_message_list messages{simulation_time(1.0), simulation_time(2.0), simulation_time(3.0)};
    const bytes stream = stream_of(messages);
    receive_frame(frame, handoff, 0.01, stream.data(), 2, &output1, &output2);
    EXPECT_TRUE(same_records(frame, {messages[0], messages[1]}));
}

TEST_F(FrameUpdate, CountZeroLeavesTheHandoffAndSendsNothing)
{
    const int sockets = count_open_sockets();
    update(0.5, bytes{}, 0);
    EXPECT_TRUE(frame.empty());
    EXPECT_EQ(output1, 0);
    EXPECT_EQ(output2, 0);
    EXPECT_FALSE(broadcaster.is_open());
    EXPECT_EQ(count_open_sockets(), sockets);

    const tm_message_list messages{simulation_time(1.5)};
    update(0.02, messages);
    ASSERT_TRUE(datagram());
    update(0.5, stream_of(messages), 0);
    EXPECT_TRUE(frame.empty());
    EXPECT_EQ(output1, 0);
    EXPECT_EQ(output2, 0);
    EXPECT_FALSE(datagram(300));
    paint();
    EXPECT_TRUE(same_records(shown, messages));
    EXPECT_EQ(shown_time_step, 0.02);  // not the empty call's 0.5
}

TEST_F(FrameUpdate, NullStreamAndNullOutputsAreSurvived)
{
    update_frame({frame, handoff, broadcaster}, 0.1, nullptr, 3, nullptr, nullptr);
    EXPECT_TRUE(frame.empty());
    EXPECT_FALSE(broadcaster.is_open());
}

TEST_F(FrameUpdate, PositionRestartsOnEveryCall)
{
    const bytes stream = stream_of({simulation_time(1.5), simulation_time(4295.0)});
    update(0.01, stream, 1);
    update(0.01, stream, 1);
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(frame[0].GetDouble(), 1.5);
    for (int call = 0; call < 2; ++call) {
        const std::optional<bytes> d = datagram();
        ASSERT_TRUE(d);
        EXPECT_EQ(bytes(d->begin() + 4, d->begin() + 8), (bytes{0x60, 0xE3, 0x16, 0x00}));
    }
}

TEST_F(FrameReceive, SeveralUpdatesBetweenTwoPaintsShowTheLastFrame)
{
    receive(0.1, {simulation_time(1.0)});
    receive(0.2, {simulation_time(2.0), velocity(1, 1, 1)});
    const tm_message_list last{velocity(3, 3, 3)};
    receive(0.3, last);
    receive(0.4, {});
    EXPECT_TRUE(frame.empty());
    EXPECT_EQ(output1, 0);
    EXPECT_EQ(output2, 0);
    paint();
    EXPECT_TRUE(same_records(shown, last));
    EXPECT_EQ(shown_time_step, 0.3);
}

TEST_F(FrameUpdate, EveryNonEmptyFrameSendsOneDatagramUnaffectedByTheTimeStep)
{
    update(123.0, {simulation_time(1.5)});
    update(0.0, {velocity(1, 2, 3)});
    const std::optional<bytes> first = datagram();
    const std::optional<bytes> second = datagram();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(bytes(first->begin() + 4, first->begin() + 8), (bytes{0x60, 0xE3, 0x16, 0x00}));
    EXPECT_EQ(bytes(second->begin() + 4, second->begin() + 20),
              (bytes{0, 0, 0, 0, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40}));
    EXPECT_FALSE(datagram(200));
}

TEST_F(FrameUpdate, MemoryExhaustedWhileReadingSkipsTheFrame)
{
    const tm_message_list before{simulation_time(1.0)};
    update(0.1, before);
    ASSERT_TRUE(datagram());

    tm_message_list large;
    for (int i = 0; i < 100; ++i) large.push_back(simulation_time(2.0 + i));
    const bytes stream = stream_of(large);
    {
        const allocation_failure_scope no_memory;
        update(0.2, stream, 100);
    }
    EXPECT_TRUE(frame.empty());
    EXPECT_EQ(output1, 0);
    EXPECT_EQ(output2, 0);
    EXPECT_FALSE(datagram(300)) << "a frame not read whole is not broadcast";
    paint();
    EXPECT_TRUE(same_records(shown, before));
    EXPECT_EQ(shown_time_step, 0.1);

    // The next frame works.
    update(0.3, stream, 100);
    EXPECT_TRUE(same_records(frame, large));
    ASSERT_TRUE(paint());
    EXPECT_TRUE(same_records(shown, large));
    EXPECT_TRUE(datagram());
}

TEST_F(FrameUpdate, MemoryExhaustedWhileHandingOffKeepsTheDisplayedFrame)
{
    const tm_message_list first{simulation_time(1.0), simulation_time(1.5), velocity(1, 2, 3)};
    update(0.1, first);
    ASSERT_TRUE(paint());  // the hand-off list now holds the paint's old, empty storage
    ASSERT_TRUE(datagram());

    const tm_message_list second{simulation_time(2.0), simulation_time(4295.0), velocity(3, 2, 1)};
    const bytes stream = stream_of(second);
    {
        const allocation_failure_scope no_memory;
        update(0.2, stream, 3);  // reading reuses the frame list; the copy needs memory
    }
    EXPECT_GT(failed_allocations(), 0u);
    EXPECT_TRUE(same_records(frame, second));
    EXPECT_EQ(output1, 0);
    EXPECT_EQ(output2, 0);
    EXPECT_FALSE(paint());
    EXPECT_TRUE(same_records(shown, first));
    // The frame was read whole: its datagram goes out.
    const std::optional<bytes> d = datagram();
    ASSERT_TRUE(d);
    EXPECT_EQ(bytes(d->begin() + 4, d->begin() + 8), (bytes{0xC0, 0x7F, 0x00, 0x00}));

    update(0.3, second);
    ASSERT_TRUE(paint());
    EXPECT_TRUE(same_records(shown, second));
    EXPECT_EQ(shown_time_step, 0.3);
}

}  // namespace
