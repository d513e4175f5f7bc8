#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <skarvel/catalogue/message_name_list.h>

namespace {

std::string name_at(std::size_t entry_number)
{
    return message_name_list.at(entry_number - 1).name.GetCString();
}

tm_external_message message_with_id(std::uint64_t id)
{
    tm_external_message m;
    m.Header.ID = id;
    return m;
}

tm_fixed_string name_of(const tm_msg_id& id)
{
    return get_message_name(message_with_id(id.GetValue()));
}

// The name holds exactly `expected`, then zero bytes to the end of its buffer.
void expect_name(const tm_fixed_string& s, const std::string& expected)
{
    ASSERT_EQ(s.GetLength(), expected.size());
    EXPECT_EQ(std::string(s.GetCString()), expected);
    for (std::size_t i = expected.size(); i < tm_fixed_string::capacity; ++i) ASSERT_EQ(s.data()[i], 0) << i;
}

TEST(Catalogue, Holds418EntriesOf398NamesInOneBlock)
{
    ASSERT_EQ(message_name_list.size(), 418u);
    EXPECT_EQ(message_name_list.capacity(), 418u);

    std::set<std::string> names;
    std::set<std::uint64_t> identifiers;
    std::set<std::uint32_t> lengths;
    for (const tm_msg_name_entry& e : message_name_list) {
        names.insert(e.name.GetCString());
        identifiers.insert(e.identifier.GetValue());
        lengths.insert(e.name.GetLength());
    }
    EXPECT_EQ(names.size(), 398u);
    EXPECT_EQ(identifiers.size(), 398u);

    std::set<std::uint32_t> expected_lengths = {7, 38, 39};
    for (std::uint32_t n = 9; n <= 36; ++n) expected_lengths.insert(n);
    EXPECT_EQ(lengths, expected_lengths);

    expect_name(message_name_list.front().name, "Aircraft.Altitude");
    expect_name(message_name_list.back().name, "Warnings.WarningMute");
}

TEST(Catalogue, EveryIdentifierIsTheHashOfItsName)
{
    for (const tm_msg_name_entry& e : message_name_list) {
        EXPECT_EQ(e.identifier.GetValue(), tm_msg_hash(e.name.GetCString(), e.name.GetLength() + 1u))
            << e.name.GetCString();
        EXPECT_EQ(std::strlen(e.name.GetCString()), e.name.GetLength());
    }
}

TEST(Catalogue, HoldsEveryNameLetterForLetterInOrder)
{
    // Every name in catalogue order, each with its terminating zero, hashed
    // as one run of bytes: one changed, missing or moved letter changes it.
    std::vector<char> all;
    for (const tm_msg_name_entry& e : message_name_list)
        all.insert(all.end(), e.name.GetCString(), e.name.GetCString() + e.name.GetLength() + 1);
    EXPECT_EQ(tm_msg_hash(all.data(), all.size()), 0xAA6B0638E95BBA92ull);

    // Names that are easily mistyped for their neighbours.
    EXPECT_EQ(name_at(14), "Aircraft.Velocity");
    EXPECT_EQ(name_at(15), "Aircraft.AngularVelocity");
    EXPECT_EQ(name_at(41), "Navigation.DMEFrequency1");
    EXPECT_EQ(name_at(169), "Simulation.Time");
    EXPECT_EQ(name_at(377), "Navigation.DMEFrequency");
    EXPECT_EQ(name_at(407), "Simulation.TakeSceenshot");
    EXPECT_EQ(name_at(408), "Simulation.TakeScreenshot");
    EXPECT_EQ(name_at(410), "Simulator.OverlayLeft");
    EXPECT_EQ(name_at(411), "Simulator.OverlayRight");
}

TEST(Catalogue, NamesThatStandMoreThanOnce)
{
    const std::map<std::string, std::vector<std::size_t>> expected = {
        {"Controls.Throttle1", {81, 85}},
        {"Controls.Throttle2", {82, 86}},
        {"Controls.Throttle3", {83, 87}},
        {"Controls.Throttle4", {84, 88}},
        {"Controls.Pitch.Input", {89, 90}},
        {"Controls.Roll.Input", {91, 92}},
        {"Controls.Yaw.Input", {93, 94}},
        {"Controls.Flaps", {95, 96}},
        {"Controls.Gear", {97, 98}},
        {"Controls.WheelBrake.Left", {99, 101}},
        {"Controls.WheelBrake.Right", {100, 102}},
        {"Controls.AirBrake", {103, 104}},
        {"Controls.Trim", {118, 119, 120}},
        {"View.Pan.Horizontal", {135, 136}},
        {"View.Pan.Vertical", {137, 138}},
        {"View.OffsetX", {143, 144}},
        {"View.OffsetY", {145, 146}},
        {"View.OffsetZ", {147, 148}},
        {"Simulation.PlaybackPosition", {173, 403}},
    };
    std::map<std::string, std::vector<std::size_t>> places;
    for (std::size_t i = 0; i < message_name_list.size(); ++i)
        places[message_name_list[i].name.GetCString()].push_back(i + 1);
    std::map<std::string, std::vector<std::size_t>> repeated;
    for (const auto& [name, at] : places)
        if (at.size() > 1) repeated[name] = at;
    EXPECT_EQ(repeated, expected);
}

TEST(Catalogue, LookupNamesKnownIdentifiers)
{
    expect_name(name_of(tm_msg_id("Aircraft.Altitude")), "Aircraft.Altitude");
    expect_name(name_of(tm_msg_id("Warnings.WarningMute")), "Warnings.WarningMute");
    expect_name(name_of(tm_msg_id("Controls.Trim")), "Controls.Trim");
    expect_name(name_of(tm_msg_id("Simulation.PlaybackPosition")), "Simulation.PlaybackPosition");
    expect_name(name_of(tm_msg_id("Simulation.TakeSceenshot")), "Simulation.TakeSceenshot");
    expect_name(name_of(tm_msg_id("Simulation.TakeScreenshot")), "Simulation.TakeScreenshot");
    expect_name(name_of(tm_msg_id("Performance.Speed.MinimumFlapRetraction")),
                "Performance.Speed.MinimumFlapRetraction");
    expect_name(name_of(tm_msg_id("View.Up")), "View.Up");
}

TEST(Catalogue, LookupNamesTheMessagesTheMotionBroadcastReads)
{
    const tm_external_message time(tm_msg_id("Simulation.Time"), tm_msg_data_type::Double, simulation_time_flags);
    expect_name(get_message_name(time), "Simulation.Time");
    expect_name(get_message_name(message_with_id(0x977C869390C770A0ull)), "Aircraft.Velocity");
    expect_name(get_message_name(message_with_id(0xC333841907D74F04ull)), "Aircraft.AngularVelocity");
}

TEST(Catalogue, LookupOfAnUnlistedIdentifierGivesUnknown)
{
    expect_name(get_message_name(message_with_id(0)), "unknown");
    expect_name(get_message_name(tm_external_message()), "unknown");
    expect_name(name_of(tm_msg_id("Simulation.time")), "unknown");
    expect_name(name_of(tm_msg_id("Simulation.Time\n")), "unknown");
    expect_name(get_message_name(message_with_id(tm_msg_hash("Simulation.Time", 15))), "unknown");
    expect_name(get_message_name(message_with_id(~0ull)), "unknown");
}

TEST(Catalogue, LookupReadsTheIdentifierOnly)
{
    tm_external_message a = message_with_id(tm_msg_id("Controls.Gear").GetValue());
    tm_external_message b = a;
    b.Header.DataType = tm_msg_data_type::String8;
    b.Header.Size = 0xFFFF;
    b.Header.Flags = ~0ull;
    std::memset(b.Data, 'x', sizeof b.Data);

    const tm_fixed_string first = get_message_name(a);
    const tm_fixed_string second = get_message_name(b);
    const tm_fixed_string again = get_message_name(a);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0);
    expect_name(first, "Controls.Gear");
}

}  // namespace
