// One full page of the message list: the header and 67 lines of number,
// value and name-and-flags, names looked up in the catalogue. The baseline
// prints the same number of texts of the same shapes with snprintf, names
// given, and widens nothing: read the result as the ratio of the two.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <skarvel/shared/input/tm_msg_id.h>

#include "display/display_text.h"

namespace {

constexpr int page_lines = display_layout::max_lines;

struct sample {
    tm_msg_id id;
    tm_msg_data_type type;
    const char* name;
};

// Names from the start, the middle and the end of the catalogue.
const sample samples[] = {
    {tm_msg_id("Aircraft.Altitude"), tm_msg_data_type::Double, "Aircraft.Altitude"},
    {tm_msg_id("Aircraft.Velocity"), tm_msg_data_type::Vector3d, "Aircraft.Velocity"},
    {tm_msg_id("Aircraft.Orientation"), tm_msg_data_type::Vector4d, "Aircraft.Orientation"},
    {tm_msg_id("Aircraft.Name"), tm_msg_data_type::String, "Aircraft.Name"},
    {tm_msg_id("Simulation.Time"), tm_msg_data_type::Double, "Simulation.Time"},
    {tm_msg_id("Autopilot.Master0"), tm_msg_data_type::Int, "Autopilot.Master0"},
    {tm_msg_id("View.Pan.Horizontal"), tm_msg_data_type::Vector2d, "View.Pan.Horizontal"},
    {tm_msg_id("Warnings.WarningMute"), tm_msg_data_type::None, "Warnings.WarningMute"},
    {tm_msg_id("Aircraft.NearestAirport"), tm_msg_data_type::String8, "Aircraft.NearestAirport"},
};
constexpr int sample_count = sizeof samples / sizeof samples[0];

tm_message_list make_page()
{
    tm_message_list page;
    for (int line = 0; line < page_lines; ++line) {
        const sample& s = samples[line % sample_count];
        tm_external_message message(s.id, s.type, simulation_time_flags);
        const double values[] = {1234.5678 * line, -0.25 * line, 9.80665, 1.0 / (line + 1)};
        std::memcpy(message.Data, values, sizeof values);
        if (s.type == tm_msg_data_type::Int) std::memcpy(message.Data, &line, sizeof line);
        if (s.type == tm_msg_data_type::String || s.type == tm_msg_data_type::String8)
            std::memcpy(message.Data, "E\0G\0L\0L\0", 8);
        page.push_back(message);
    }
    return page;
}

void compose_page(benchmark::State& state)
{
    const tm_message_list page = make_page();
    std::uint64_t counter = 0;
    for (auto _ : state) {
        std::uint32_t units = 0;
        compose_message_list(page, 0.016667, ++counter, [&units](float, float, const display_text& text) {
            units += text.units[0] + text.length;
        });
        benchmark::DoNotOptimize(units);
    }
    state.SetItemsProcessed(state.iterations() * (1 + 3 * page_lines));
}
BENCHMARK(compose_page);

void snprintf_page(benchmark::State& state)
{
    const tm_message_list page = make_page();
    std::uint64_t counter = 0;
    char text[256];
    for (auto _ : state) {
        std::uint32_t chars = 0;
        const auto take = [&chars, &text](int length) { chars += static_cast<std::uint32_t>(text[0] + length); };
        take(std::snprintf(text, sizeof text, "messages = %llu  dt=%f  counter=%llu",
                           static_cast<unsigned long long>(page.size()), 0.016667,
                           static_cast<unsigned long long>(++counter)));
        for (int line = 0; line < page_lines; ++line) {
            const tm_external_message& message = page[line];
            double values[4];
            std::memcpy(values, message.Data, sizeof values);
            take(std::snprintf(text, sizeof text, "%3u:", line + 1u));
            take(std::snprintf(text, sizeof text, "v=(%.3f %.3f %.3f)", values[0], values[1], values[2]));
            take(std::snprintf(text, sizeof text, "'%s'  flags=%llu", samples[line % sample_count].name,
                               static_cast<unsigned long long>(message.GetFlags().GetValue())));
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * (1 + 3 * page_lines));
}
BENCHMARK(snprintf_page);

}  // namespace

BENCHMARK_MAIN();
