// Message model speed against plain memory work in the same run:
// - reading a frame of 40 messages, against copying the frame's bytes;
// - naming a message through the catalogue (first entry, last entry, no
//   entry), against copying one name and against a bare scan of 418
//   contiguous identifiers.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include <skarvel/catalogue/message_name_list.h>
#include <skarvel/shared/input/tm_message_stream.h>

namespace {

constexpr std::size_t frame_messages = 40;

void append_message(std::vector<std::uint8_t>& stream, std::uint16_t size, tm_msg_data_type type, std::uint64_t id)
{
    tm_msg_header header;
    header.Size = size;
    header.ID = id;
    header.DataType = type;
    const auto* p = reinterpret_cast<const std::uint8_t*>(&header);
    stream.insert(stream.end(), p, p + sizeof header);
    for (std::uint16_t i = 64; i < size; ++i) stream.push_back(static_cast<std::uint8_t>(i));
}

// A frame like a host's: mostly doubles and vectors, a few strings.
std::vector<std::uint8_t> make_frame()
{
    std::vector<std::uint8_t> stream;
    for (std::size_t i = 0; i < frame_messages; ++i) {
        const std::uint64_t id = message_name_list[i * 7 % message_name_list.size()].identifier.GetValue();
        switch (i % 5) {
            case 0: append_message(stream, 72, tm_msg_data_type::Double, id); break;
            case 1: append_message(stream, 88, tm_msg_data_type::Vector3d, id); break;
            case 2: append_message(stream, 72, tm_msg_data_type::Int, id); break;
            case 3: append_message(stream, 96, tm_msg_data_type::Vector4d, id); break;
            default: append_message(stream, i % 10 == 4 ? 128 : 75, tm_msg_data_type::String8, id); break;
        }
    }
    return stream;
}

void frame_memcpy_baseline(benchmark::State& state)
{
    const std::vector<std::uint8_t> frame = make_frame();
    std::vector<std::uint8_t> copy(frame.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.data(), frame.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(frame_memcpy_baseline);

void frame_read_message(benchmark::State& state)
{
    const std::vector<std::uint8_t> frame = make_frame();
    std::array<tm_external_message, frame_messages> records;
    for (auto _ : state) {
        std::uint32_t position = 0;
        for (tm_external_message& r : records) r = read_message(frame.data(), position);
        benchmark::DoNotOptimize(records.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(frame_read_message);

void frame_read_message_bounded(benchmark::State& state)
{
    const std::vector<std::uint8_t> frame = make_frame();
    std::array<tm_external_message, frame_messages> records;
    for (auto _ : state) {
        std::uint32_t position = 0;
        std::size_t count = 0;
        while (count < records.size() && read_message_bounded(frame.data(), frame.size(), position, records[count]))
            ++count;
        benchmark::DoNotOptimize(records.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(frame_read_message_bounded);

void name_copy_baseline(benchmark::State& state)
{
    const tm_fixed_string source("Aircraft.Altitude");
    for (auto _ : state) {
        tm_fixed_string copy = source;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(name_copy_baseline);

void identifier_scan_baseline(benchmark::State& state)
{
    std::vector<std::uint64_t> identifiers;
    identifiers.reserve(message_name_list.size());
    for (const tm_msg_name_entry& e : message_name_list) identifiers.push_back(e.identifier.GetValue());
    std::uint64_t wanted = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(wanted);
        std::size_t found = identifiers.size();
        for (std::size_t i = 0; i < identifiers.size(); ++i) {
            if (identifiers[i] == wanted) {
                found = i;
                break;
            }
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(identifier_scan_baseline);

void get_message_name_of(benchmark::State& state, std::uint64_t id)
{
    tm_external_message m;
    m.Header.ID = id;
    for (auto _ : state) {
        benchmark::DoNotOptimize(m);
        tm_fixed_string name = get_message_name(m);
        benchmark::DoNotOptimize(name);
    }
}
BENCHMARK_CAPTURE(get_message_name_of, first_entry, tm_msg_id("Aircraft.Altitude").GetValue());
BENCHMARK_CAPTURE(get_message_name_of, last_entry, tm_msg_id("Warnings.WarningMute").GetValue());
BENCHMARK_CAPTURE(get_message_name_of, unknown, std::uint64_t{0});

}  // namespace

BENCHMARK_MAIN();
