#include "tools/listen/motion_table.h"

#include <cstdio>

#include "tools/common/system_error.h"
#include "tools/listen/motion_relay.h"

namespace tools {
namespace {

template <typename... Args>
std::string format(const char* pattern, Args... args)
{
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    return std::string(buffer, n < 0 ? 0 : static_cast<std::size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

unsigned long long ull(std::uint64_t n)
{
    return static_cast<unsigned long long>(n);
}

// The last line of the summary: what the run lost, or that it lost nothing.
std::string loss_text(const motion_summary& s, const relay_counts* relay)
{
    std::string lost;
    if (s.dropped && s.dropped->datagrams > 0 && s.dropped->whole_machine)
        lost = format("%llu UDP datagrams discarded on this machine during the run (Windows counts them for every "
                      "program together)",
                      ull(s.dropped->datagrams));
    else if (s.dropped && s.dropped->datagrams > 0)
        lost = format("%llu datagrams dropped by the system before they were read (the receive buffer was full)",
                      ull(s.dropped->datagrams));
    if (relay && relay->failed > 0)
        lost += format("%s%llu relay sends failed", lost.empty() ? "" : "; ", ull(relay->failed));
    if (!lost.empty()) return "lost: " + lost + "\n";
    return s.dropped ? "lost: none\n" : "lost: none that the system tells of (it does not count its drops here)\n";
}

}  // namespace

std::string table_header(bool derived)
{
    std::string text =
        format("%12s %10s %10s %10s %10s %10s %10s", "time s", "vel x", "vel y", "vel z", "ang x", "ang y", "ang z");
    if (derived)
        text += format(" %9s %9s %9s %10s %10s %10s", "d.acc x", "d.acc y", "d.acc z", "d.angacc x", "d.angacc y",
                       "d.angacc z");
    return text + "\n";
}

std::string table_row(const decoded_motion& m, bool derived, const derived_motion* d)
{
    std::string text =
        format("%12.6f %10.3f %10.3f %10.3f %10.5f %10.5f %10.5f", m.time_us / 1e6, m.velocity[0], m.velocity[1],
               m.velocity[2], m.angular_velocity[0], m.angular_velocity[1], m.angular_velocity[2]);
    if (derived && d)
        text += format(" %9.3f %9.3f %9.3f %10.5f %10.5f %10.5f", d->acceleration[0], d->acceleration[1],
                       d->acceleration[2], d->angular_acceleration[0], d->angular_acceleration[1],
                       d->angular_acceleration[2]);
    else if (derived)
        text += format(" %9s %9s %9s %10s %10s %10s", "-", "-", "-", "-", "-", "-");
    return text + "\n";
}

std::string csv_header(bool derived)
{
    std::string text = "arrival_s,time_us,time_s,velocity_x,velocity_y,velocity_z,"
                       "angular_velocity_x,angular_velocity_y,angular_velocity_z";
    if (derived)
        text += ",derived_acceleration_x,derived_acceleration_y,derived_acceleration_z,"
                "derived_angular_acceleration_x,derived_angular_acceleration_y,derived_angular_acceleration_z";
    return text + "\n";
}

std::string csv_row(const decoded_motion& m, double arrival, bool derived, const derived_motion* d)
{
    std::string text = format("%.6f,%u,%.6f,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g", arrival, static_cast<unsigned>(m.time_us),
                              m.time_us / 1e6, m.velocity[0], m.velocity[1], m.velocity[2], m.angular_velocity[0],
                              m.angular_velocity[1], m.angular_velocity[2]);
    if (derived && d)
        text += format(",%.6g,%.6g,%.6g,%.6g,%.6g,%.6g", d->acceleration[0], d->acceleration[1], d->acceleration[2],
                       d->angular_acceleration[0], d->angular_acceleration[1], d->angular_acceleration[2]);
    else if (derived)
        text += ",,,,,,";
    return text + "\n";
}

std::string summary_text(const motion_summary& s, const relay_counts* relay)
{
    std::string text = format("datagrams: %llu valid, %llu malformed (%llu wrong size, %llu wrong marker)\n",
                              ull(s.valid), ull(s.wrong_size + s.wrong_marker), ull(s.wrong_size), ull(s.wrong_marker));
    text += format("rate: %.1f Hz, interval %.2f ms (min %.2f, max %.2f), jitter %.2f ms\n", s.rate_hz,
                   s.mean_interval_ms, s.min_interval_ms, s.max_interval_ms, s.jitter_ms);
    text += format("simulation time: %llu steps backwards, %llu standing still in %llu pauses, %llu wraps\n",
                   ull(s.time_backwards), ull(s.time_still), ull(s.pauses), ull(s.time_wraps));
    if (relay) {
        text += format("relay: %llu forwarded, %llu sends failed, %llu held back by the rate cap, %llu own echoes "
                       "and %llu copies from a loop or a second path dropped\n",
                       ull(relay->forwarded), ull(relay->failed), ull(relay->held_back), ull(relay->echoes),
                       ull(relay->copies));
        for (const relay_failures& f : relay->failures)
            if (f.sends > 0)
                text += format("relay: %llu sends to %s failed, the last: %s\n", ull(f.sends), f.destination.c_str(),
                               system_error_text(f.last_error).c_str());
    }
    text += loss_text(s, relay);
    return text;
}

}  // namespace tools
