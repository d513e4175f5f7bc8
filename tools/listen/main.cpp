// The motion listener: receives the plug-in's motion datagrams and shows
// them, for checking a set-up or a receiver of one's own.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "telemetry/socket_api.h"
#include "tools/listen/listen_options.h"
#include "tools/listen/listener.h"
#include "tools/listen/motion_relay.h"
#include "tools/listen/motion_table.h"

namespace {

std::atomic<bool> stop_requested{false};

extern "C" void on_signal(int) { stop_requested = true; }

int fail(const std::string& message)
{
    std::fprintf(stderr, "listen: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    tools::listen_options options;
    std::string error;
    if (!tools::parse_listen_options(argc - 1, argv + 1, options, error)) {
        std::fprintf(stderr, "listen: %s\n%s", error.c_str(), tools::listen_usage);
        return 2;
    }
    if (options.help) {
        std::fputs(tools::listen_usage, stdout);
        return 0;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    std::FILE* csv = nullptr;
    if (!options.csv_path.empty()) {
        csv = std::fopen(options.csv_path.c_str(), "w");
        if (!csv) return fail("cannot write " + options.csv_path);
    }
    if (!socket_api::start()) return fail("the socket layer did not start");
    struct socket_layer {
        ~socket_layer() { socket_api::stop(); }
    } layer;

    const socket_api::socket_handle socket = socket_api::open_udp();
    if (socket == socket_api::invalid_socket) return fail("cannot open a UDP socket");
    if (!socket_api::bind_any(socket, options.port, true)) {
        socket_api::close(socket);
        return fail("cannot listen on UDP port " + std::to_string(options.port) + " (system error " +
                    std::to_string(socket_api::last_error()) + ")");
    }

    tools::motion_relay relay;
    if (options.relay && !relay.open(*options.relay, options.port, error)) {
        socket_api::close(socket);
        return fail(error);
    }
    std::fprintf(stderr, "listen: waiting for motion datagrams on UDP port %u%s%s\n",
                 static_cast<unsigned>(options.port), options.relay ? ", relaying to " : "",
                 options.relay ? relay.destination().text().c_str() : "");

    tools::motion_statistics statistics;
    tools::listener_outputs outputs;
    outputs.table = options.quiet ? nullptr : stdout;
    outputs.csv = csv;
    outputs.notes = stderr;
    const bool ok = tools::run_listener(socket, options, options.relay ? &relay : nullptr, outputs, &stop_requested,
                                        statistics, error);
    socket_api::close(socket);
    if (csv && std::fclose(csv) != 0) return fail("writing " + options.csv_path + " failed");

    std::fputs(tools::summary_text(statistics.summary(), options.relay ? &relay.counts() : nullptr).c_str(), stdout);
    if (!ok) return fail(error);
    return 0;
}
