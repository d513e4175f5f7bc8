// The listener's receive path with and without the relay, over real sockets
// on the loopback interface: datagrams a second through run_listener, each
// batch sent while the clock is paused. Read the relay's rate as a ratio of
// the plain listener's in the same run.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "telemetry/motion_datagram.h"
#include "telemetry/socket_api.h"
#include "tests/support/private_network.h"
#include "tools/listen/listener.h"
#include "tools/listen/motion_relay.h"

namespace {

// Fewer than the receive buffer holds (256 of them by default): none lost.
constexpr std::uint32_t batch = 200;

struct loopback_socket {
    socket_api::socket_handle handle = socket_api::open_udp();
    std::uint16_t port = 0;
    loopback_socket()
    {
        if (socket_api::bind_any(handle, 0)) port = socket_api::local_port(handle);
    }
    ~loopback_socket() { socket_api::close(handle); }
};

void receive_batches(benchmark::State& state, bool relaying)
{
    if (!in_private_network_namespace()) {
        state.SkipWithError("sends datagrams: run inside a private network namespace");
        return;
    }
    loopback_socket listener, sender, target;
    socket_api::address to;
    socket_api::resolve_ipv4("127.0.0.1", std::to_string(listener.port).c_str(), to);
    tools::listen_options options;
    options.count = batch;
    options.duration = 2.0;  // a bound, should any be lost
    std::unique_ptr<tools::motion_relay> relay;
    std::string error;
    if (relaying) {
        options.relay.destinations = {{"127.0.0.1", target.port}};
        relay = std::make_unique<tools::motion_relay>();
        if (!relay->open(options.relay, listener.port, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    // Every datagram new: a relay's memory of recent ones fills, as in a
    // long run.
    std::uint32_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::uint32_t i = 0; i < batch; ++i) {
            motion_sample sample;
            sample.simulation_time = next++ * 0.001;
            const motion_datagram d = encode_motion_datagram(sample);
            socket_api::send_to(sender.handle, d.data(), d.size(), to);
        }
        state.ResumeTiming();
        tools::motion_statistics statistics;
        if (!tools::run_listener(listener.handle, options, relay.get(), {}, nullptr, statistics, error) ||
            statistics.valid() != batch) {
            state.SkipWithError("datagrams lost");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
}

void BM_listener_plain(benchmark::State& state)
{
    receive_batches(state, false);
}
void BM_listener_relay(benchmark::State& state)
{
    receive_batches(state, true);
}

}  // namespace

BENCHMARK(BM_listener_plain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_listener_relay)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
