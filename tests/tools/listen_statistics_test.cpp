// The listener's sorting of datagrams and its statistics: garbage is
// counted, never fatal; time steps are taken modulo 2^32.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "telemetry/motion_datagram.h"
#include "tools/common/system_error.h"
#include "tools/listen/motion_relay.h"
#include "tools/listen/motion_statistics.h"
#include "tools/listen/motion_table.h"

namespace {

motion_datagram datagram(std::uint32_t time_us, float vx = 0.0f)
{
    motion_datagram d{0x47, 0x00, 0x4D, 0x04};
    for (int i = 0; i < 4; ++i) d[4 + i] = static_cast<std::uint8_t>(time_us >> (8 * i));
    std::uint32_t bits;
    std::memcpy(&bits, &vx, 4);
    for (int i = 0; i < 4; ++i) d[8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return d;
}

}  // namespace

TEST(ListenDecoding, SortsValidWrongSizeAndWrongMarker)
{
    decoded_motion m;
    const motion_datagram good = datagram(1500000, 1.0f);
    EXPECT_EQ(tools::classify_datagram(good.data(), good.size(), m), tools::datagram_kind::valid);
    EXPECT_EQ(m.time_us, 1500000u);
    EXPECT_EQ(m.velocity[0], 1.0f);

    EXPECT_EQ(tools::classify_datagram(good.data(), 31, m), tools::datagram_kind::wrong_size);
    EXPECT_EQ(tools::classify_datagram(good.data(), 0, m), tools::datagram_kind::wrong_size);
    std::vector<std::uint8_t> longer(good.begin(), good.end());
    longer.push_back(0);
    EXPECT_EQ(tools::classify_datagram(longer.data(), longer.size(), m), tools::datagram_kind::wrong_size);
    for (int byte = 0; byte < 4; ++byte) {
        motion_datagram bad = good;
        bad[byte] ^= 0x01;
        EXPECT_EQ(tools::classify_datagram(bad.data(), bad.size(), m), tools::datagram_kind::wrong_marker) << byte;
    }
}

TEST(ListenDecoding, RandomGarbageIsCountedNeverTakenForMotion)
{
    std::mt19937 random(7);
    tools::motion_statistics statistics;
    std::uint64_t wrong_size = 0;
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> bytes(random() % 64);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        if (bytes.size() >= 4 && i % 2) bytes[0] = 0x48;  // never the marker
        if (bytes.size() != 32) ++wrong_size;
        decoded_motion m;
        if (bytes.size() == 32 && bytes[0] == 0x47) continue;  // could be a real one
        statistics.add(bytes.data(), bytes.size(), i * 0.01, m);
    }
    const tools::motion_summary s = statistics.summary();
    EXPECT_EQ(s.valid, 0u);
    EXPECT_EQ(s.wrong_size, wrong_size);
    EXPECT_GT(s.wrong_marker, 0u);
    EXPECT_EQ(s.rate_hz, 0.0);
}

TEST(ListenStatistics, TimeStepsAreModulo32Bits)
{
    using tools::time_step_kind;
    EXPECT_EQ(tools::classify_time_step(1000, 17666), time_step_kind::forward);
    EXPECT_EQ(tools::classify_time_step(5, 5), time_step_kind::still);
    EXPECT_EQ(tools::classify_time_step(17666, 1000), time_step_kind::backwards);
    // 4295.0 s wraps to 32 704 us: forward across the wrap, not backwards.
    EXPECT_EQ(tools::classify_time_step(4294950000u, 32704u), time_step_kind::wrapped);
    EXPECT_EQ(tools::classify_time_step(0, 0x7FFFFFFFu), time_step_kind::forward);
    EXPECT_EQ(tools::classify_time_step(0, 0x80000000u), time_step_kind::backwards);
}

TEST(ListenStatistics, RateIntervalsAndJitter)
{
    tools::motion_statistics statistics;
    decoded_motion m;
    // Gaps of 10 and 30 ms in turn: mean 20 ms, 50 Hz, sample deviation ~10 ms.
    double t = 0.0;
    for (int i = 0; i < 101; ++i) {
        const motion_datagram d = datagram(static_cast<std::uint32_t>(i * 20000));
        statistics.add(d.data(), d.size(), t, m);
        t += (i % 2) ? 0.030 : 0.010;
    }
    const tools::motion_summary s = statistics.summary();
    EXPECT_EQ(s.valid, 101u);
    EXPECT_NEAR(s.rate_hz, 50.0, 1e-9);
    EXPECT_NEAR(s.mean_interval_ms, 20.0, 1e-9);
    EXPECT_NEAR(s.min_interval_ms, 10.0, 1e-9);
    EXPECT_NEAR(s.max_interval_ms, 30.0, 1e-9);
    EXPECT_NEAR(s.jitter_ms, 10.0 * std::sqrt(100.0 / 99.0), 1e-6);
    EXPECT_EQ(s.time_backwards + s.time_still + s.time_wraps, 0u);
}

TEST(ListenStatistics, PausesBackwardStepsAndWrapsAreCounted)
{
    tools::motion_statistics statistics;
    decoded_motion m;
    const std::uint32_t times[] = {100, 200, 200, 200, 300, 300, 250, 4294967000u, 500, 600};
    double t = 0.0;
    for (std::uint32_t time : times) {
        const motion_datagram d = datagram(time);
        statistics.add(d.data(), d.size(), t += 0.016, m);
    }
    const motion_datagram garbage = datagram(700);
    statistics.add(garbage.data(), 20, t += 0.016, m);  // between valid ones: counted, ignored
    const tools::motion_summary s = statistics.summary();
    EXPECT_EQ(s.valid, 10u);
    EXPECT_EQ(s.wrong_size, 1u);
    EXPECT_EQ(s.time_still, 3u);  // 200, 200, 300
    EXPECT_EQ(s.pauses, 2u);
    EXPECT_EQ(s.time_backwards, 2u);  // 300 -> 250, 250 -> 4294967000
    EXPECT_EQ(s.time_wraps, 1u);  // 4294967000 -> 500
}

TEST(ListenStatistics, NothingOrOneDatagramGivesNoRate)
{
    tools::motion_statistics statistics;
    EXPECT_EQ(statistics.summary().rate_hz, 0.0);
    decoded_motion m;
    const motion_datagram d = datagram(1);
    statistics.add(d.data(), d.size(), 5.0, m);
    const tools::motion_summary s = statistics.summary();
    EXPECT_EQ(s.valid, 1u);
    EXPECT_EQ(s.rate_hz, 0.0);
    EXPECT_EQ(s.jitter_ms, 0.0);
}

TEST(ListenTexts, RowsAndSummaryShowTheNumbers)
{
    decoded_motion m;
    m.time_us = 1500000;
    m.velocity[0] = 29.5f;
    m.angular_velocity[2] = -0.125f;
    EXPECT_EQ(tools::table_row(m), "    1.500000     29.500      0.000      0.000    0.00000    0.00000   -0.12500\n");
    EXPECT_EQ(tools::csv_row(m, 0.25), "0.250000,1500000,1.500000,29.5,0,0,0,0,-0.125\n");
    tools::motion_summary s;
    s.valid = 600;
    s.wrong_size = 2;
    s.wrong_marker = 1;
    s.rate_hz = 60.0;
    const std::string text = tools::summary_text(s, nullptr);
    EXPECT_NE(text.find("600 valid, 3 malformed (2 wrong size, 1 wrong marker)"), std::string::npos) << text;
    EXPECT_NE(text.find("rate: 60.0 Hz"), std::string::npos);
    EXPECT_EQ(text.find("relay"), std::string::npos);
    EXPECT_EQ(text.substr(text.rfind("lost: ")),
              "lost: none that the system tells of (it does not count its drops here)\n");
    s.dropped = tools::system_drops{0, false};
    EXPECT_EQ(tools::summary_text(s, nullptr).substr(text.rfind("lost: ")), "lost: none\n");

    // Every loss is counted, a failing destination says why, and the last
    // line says what was lost.
    tools::relay_counts relay{599, 2, 1, 3, 4, {{"192.0.2.8:5000", 0, 0}, {"192.0.2.9:5000", 2, 101}}};
    s.dropped = tools::system_drops{40089, false};
    const std::string lossy = tools::summary_text(s, &relay);
    EXPECT_NE(lossy.find("relay: 599 forwarded, 2 sends failed, 4 held back by the rate cap, 1 own echoes and 3 copies "
                         "from a loop or a second path dropped\n"
                         "relay: 2 sends to 192.0.2.9:5000 failed, the last: " +
                         tools::system_error_text(101) + "\n"),
              std::string::npos)
        << lossy;
    EXPECT_EQ(lossy.find("192.0.2.8"), std::string::npos);
    EXPECT_EQ(lossy.substr(lossy.rfind("lost: ")), "lost: 40089 datagrams dropped by the system before they were read "
                                                   "(the receive buffer was full); 2 relay sends failed\n");
    s.dropped = tools::system_drops{12, true};
    const std::string windows = tools::summary_text(s, nullptr);
    EXPECT_EQ(windows.substr(windows.rfind("lost: ")), "lost: 12 UDP datagrams discarded on this machine during the "
                                                       "run (Windows counts them for every program together)\n");
}
