#include "tools/listen/motion_table.h"

#include <cstdio>

namespace tools {
namespace {

template <typename... Args>
std::string format(const char* pattern, Args... args)
{
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    return std::string(buffer, n < 0 ? 0 : static_cast<std::size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

}  // namespace

std::string table_header()
{
    return format("%12s %10s %10s %10s %10s %10s %10s\n", "time s", "vel x", "vel y", "vel z", "ang x", "ang y",
                  "ang z");
}

std::string table_row(const decoded_motion& m)
{
    return format("%12.6f %10.3f %10.3f %10.3f %10.5f %10.5f %10.5f\n", m.time_us / 1e6, m.velocity[0],
                  m.velocity[1], m.velocity[2], m.angular_velocity[0], m.angular_velocity[1], m.angular_velocity[2]);
}

std::string csv_header()
{
    return "arrival_s,time_us,time_s,velocity_x,velocity_y,velocity_z,"
           "angular_velocity_x,angular_velocity_y,angular_velocity_z\n";
}

std::string csv_row(const decoded_motion& m, double arrival)
{
    return format("%.6f,%u,%.6f,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n", arrival, static_cast<unsigned>(m.time_us),
                  m.time_us / 1e6, m.velocity[0], m.velocity[1], m.velocity[2], m.angular_velocity[0],
                  m.angular_velocity[1], m.angular_velocity[2]);
}

std::string summary_text(const motion_summary& s, const relay_counts* relay)
{
    std::string text = format("datagrams: %llu valid, %llu malformed (%llu wrong size, %llu wrong marker)\n",
                              static_cast<unsigned long long>(s.valid),
                              static_cast<unsigned long long>(s.wrong_size + s.wrong_marker),
                              static_cast<unsigned long long>(s.wrong_size),
                              static_cast<unsigned long long>(s.wrong_marker));
    text += format("rate: %.1f Hz, interval %.2f ms (min %.2f, max %.2f), jitter %.2f ms\n", s.rate_hz,
                   s.mean_interval_ms, s.min_interval_ms, s.max_interval_ms, s.jitter_ms);
    text += format("simulation time: %llu steps backwards, %llu standing still in %llu pauses, %llu wraps\n",
                   static_cast<unsigned long long>(s.time_backwards), static_cast<unsigned long long>(s.time_still),
                   static_cast<unsigned long long>(s.pauses), static_cast<unsigned long long>(s.time_wraps));
    if (relay)
        text += format("relay: %llu forwarded, %llu failed, %llu own echoes not forwarded\n",
                       static_cast<unsigned long long>(relay->forwarded),
                       static_cast<unsigned long long>(relay->failed),
                       static_cast<unsigned long long>(relay->echoes));
    return text;
}

}  // namespace tools
