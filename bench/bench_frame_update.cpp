// The per-frame driver against a plain copy of the same bytes, the display's
// take of a frame against a plain exchange of two lists, and the flight
// recorder's Update against one sendto on a kept socket.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <skarvel/shared/input/tm_message_stream.h>

#include "plugin/frame_update.h"
#include "recorder/flight_recorder.h"
#include "tests/support/private_network.h"
#include "tools/common/scratch_folder.h"

namespace {

void put_f64(std::uint8_t* out, double value)
{
    std::memcpy(out, &value, sizeof value);
}

// 40 messages of a usual frame: the three motion values among 37 others,
// of mixed data types and sizes.
std::vector<std::uint8_t> forty_message_stream()
{
    std::vector<std::uint8_t> stream;
    auto append = [&](tm_external_message m, std::uint16_t value_bytes) {
        m.Header.Size = static_cast<std::uint16_t>(64 + value_bytes);
        const auto* header = reinterpret_cast<const std::uint8_t*>(&m.Header);
        stream.insert(stream.end(), header, header + 64);
        stream.insert(stream.end(), m.Data, m.Data + value_bytes);
    };
    tm_external_message time = simulation_time_message;
    put_f64(time.Data, 1234.5);
    append(time, 8);
    tm_external_message v = aircraft_velocity_message;
    put_f64(v.Data, 50.0);
    append(v, 24);
    tm_external_message w = aircraft_angular_velocity_message;
    put_f64(w.Data + 16, 0.1);
    append(w, 24);
    for (int i = 0; i < 37; ++i) {
        tm_external_message other(tm_msg_id("Aircraft.Other"), tm_msg_data_type::Double, tm_msg_flags(0));
        other.Header.ID += static_cast<std::uint64_t>(i);
        put_f64(other.Data, i);
        append(other, static_cast<std::uint16_t>(i % 2 == 0 ? 8 : 24));
    }
    return stream;
}

void BM_update_frame_40(benchmark::State& state)
{
    if (!in_private_network_namespace()) {
        state.SkipWithError("broadcasts: run inside a private network namespace");
        return;
    }
    const std::vector<std::uint8_t> stream = forty_message_stream();
    tm_message_list frame;
    handoff_state handoff;
    udp_broadcaster broadcaster;
    std::int32_t out1 = 1, out2 = 1;
    for (auto _ : state) {
        update_frame({frame, handoff, broadcaster}, 0.016, stream.data(), 40, &out1, &out2);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_update_frame_40);

// Baseline: the same bytes copied once, then 40 records copied into a list.
void BM_baseline_copy_40(benchmark::State& state)
{
    const std::vector<std::uint8_t> stream = forty_message_stream();
    const tm_message_list records(40);
    std::vector<std::uint8_t> copy(stream.size());
    tm_message_list list;
    for (auto _ : state) {
        std::memcpy(copy.data(), stream.data(), stream.size());
        list.assign(records.begin(), records.end());
        benchmark::DoNotOptimize(copy.data());
        benchmark::DoNotOptimize(list.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_baseline_copy_40);

// Baseline for the broadcast's share: one plain sendto of 32 bytes to the
// same destination on a socket made beforehand.
void BM_baseline_sendto_32(benchmark::State& state)
{
    if (!in_private_network_namespace()) {
        state.SkipWithError("broadcasts: run inside a private network namespace");
        return;
    }
    const socket_api::socket_handle s = socket_api::open_udp();
    socket_api::enable_broadcast(s);
    socket_api::bind_any(s, 0);
    socket_api::address to;
    socket_api::resolve_ipv4("255.255.255.255", "50001", to);
    const std::uint8_t datagram[32] = {0x47, 0x00, 0x4D, 0x04};
    for (auto _ : state) socket_api::send_to(s, datagram, sizeof datagram, to);
    socket_api::close(s);
}
BENCHMARK(BM_baseline_sendto_32);

// The flight recorder's Update: the frame's length from its messages' Sizes
// and one copy into the queue of its worker, whose thread writes it to a
// file meanwhile. A simulator's frames come far apart, and the worker keeps up
// with them; here they come back to back, so every 128 frames (when the
// worker is woken) the clock stops until the worker has written them: what is
// measured is Update with a worker that keeps up, never the drop of a full
// queue. The floor is BM_baseline_sendto_32, the one call the sample plug-in
// makes outside itself per frame.
void BM_recorder_update_40(benchmark::State& state)
{
    const std::vector<std::uint8_t> stream = forty_message_stream();
    tools::scratch_folder folder;
    std::string error;
    recorder::flight_recorder recorder;
    if (!folder.make("bench-recorder", error) || !recorder.start(folder.path(), recorder::local_time_now(), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::int32_t out1 = 1, out2 = 1;
    std::uint64_t frames = 0;
    for (auto _ : state) {
        out1 = 0;
        out2 = 0;
        recorder.record(0.016, stream.data(), 40);
        benchmark::DoNotOptimize(out1);
        benchmark::DoNotOptimize(out2);
        if (++frames % 128 == 0) {
            state.PauseTiming();
            while (recorder.frames_waiting() > 0) std::this_thread::sleep_for(std::chrono::microseconds(50));
            state.ResumeTiming();
        }
    }
    const std::string said = recorder.stop();
    if (said.find("dropped") != std::string::npos || said.find("stopped") != std::string::npos)
        state.SkipWithError(said.c_str());
    folder.leave(true, error);
}
// A fixed count: each frame is written to the disk (about 160 MB for 50,000).
BENCHMARK(BM_recorder_update_40)->Iterations(50000);

// The selection and the encoding of the datagram alone, over the 40 records.
void BM_select_and_encode_40(benchmark::State& state)
{
    const std::vector<std::uint8_t> stream = forty_message_stream();
    tm_message_list frame;
    std::uint32_t position = 0;
    for (int i = 0; i < 40; ++i) frame.push_back(read_message(stream.data(), position));
    for (auto _ : state) {
        motion_datagram d = encode_motion_datagram(select_motion(frame));
        benchmark::DoNotOptimize(d);
    }
}
BENCHMARK(BM_select_and_encode_40);

// One hand-off of a 40-message frame and the display's take of it.
void BM_handoff_and_take_40(benchmark::State& state)
{
    handoff_state handoff;
    const tm_message_list frame(40);
    tm_message_list shown;
    double time_step = 0.0;
    for (auto _ : state) {
        handoff.hand_off(frame, 0.016);
        handoff.take_latest(shown, time_step);
        benchmark::DoNotOptimize(shown.data());
    }
}
BENCHMARK(BM_handoff_and_take_40);

// Baseline: a copy-assignment under a lock, then an exchange under it.
void BM_baseline_copy_and_swap_40(benchmark::State& state)
{
    std::mutex lock;
    const tm_message_list frame(40);
    tm_message_list handed;
    tm_message_list shown;
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(lock);
            handed = frame;
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            shown.swap(handed);
        }
        benchmark::DoNotOptimize(shown.data());
    }
}
BENCHMARK(BM_baseline_copy_and_swap_40);

// The display's take when nothing new arrived: lock, look, unlock.
void BM_take_latest_no_news(benchmark::State& state)
{
    handoff_state handoff;
    tm_message_list shown;
    double time_step = 0.0;
    for (auto _ : state) {
        handoff.take_latest(shown, time_step);
        benchmark::DoNotOptimize(shown.data());
    }
}
BENCHMARK(BM_take_latest_no_news);

// Baseline: a lock held over one exchange of two lists and one read.
void BM_baseline_locked_swap(benchmark::State& state)
{
    std::mutex lock;
    tm_message_list handed(40);
    tm_message_list shown;
    double stored = 0.016, time_step = 0.0;
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(lock);
            shown.swap(handed);
            time_step = stored;
        }
        benchmark::DoNotOptimize(shown.data());
        benchmark::DoNotOptimize(time_step);
    }
}
BENCHMARK(BM_baseline_locked_swap);

}  // namespace

BENCHMARK_MAIN();
