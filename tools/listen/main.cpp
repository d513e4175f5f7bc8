// The motion listener: receives the plug-in's motion datagrams and shows
// them, for checking a set-up or a receiver of one's own.
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "telemetry/socket_api.h"
#include "tools/common/file_system.h"
#include "tools/common/output_files.h"
#include "tools/common/path_names.h"
#include "tools/common/program_arguments.h"
#include "tools/common/stop_requests.h"
#include "tools/common/system_error.h"
#include "tools/common/terminal.h"
#include "tools/listen/ipv4_endpoint.h"
#include "tools/listen/listen_options.h"
#include "tools/listen/listener.h"
#include "tools/listen/motion_relay.h"
#include "tools/listen/motion_table.h"

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "listen: %s\n", message.c_str());
    return 1;
}

// The local adapter of --interface: one of this machine's IPv4 addresses.
bool check_interface(const std::string& text, std::string& error)
{
    socket_api::address local;
    const int resolved = socket_api::resolve_ipv4(text.c_str(), nullptr, local);
    if (resolved != 0) {
        error = "cannot resolve the interface address " + text + ": " + tools::resolve_error_text(resolved);
        return false;
    }
    if (!socket_api::is_local_address(local)) {
        error = "--interface " + text + " is not an address of this machine";
        return false;
    }
    return true;
}

// Joins the multicast group of --group on the listening socket, on the
// interface of --interface (checked already) or where the system routes it.
bool join_group(socket_api::socket_handle socket, const tools::listen_options& options, std::string& error)
{
    socket_api::address group;
    const bool resolved = socket_api::resolve_ipv4(options.group.c_str(), nullptr, group) == 0;
    const std::optional<tools::ipv4_endpoint> endpoint = tools::ipv4_endpoint_of(group);
    if (!resolved || !endpoint || !endpoint->is_multicast()) {
        error = "--group wants " + std::string(tools::multicast_group_wanted) + ", not \"" + options.group + "\"";
        return false;
    }
    if (endpoint->is_local_control_multicast()) {
        error = tools::control_group_refusal(*endpoint);
        return false;
    }
    const std::string& interface_address = options.relay.multicast_interface;
    socket_api::address local;
    const bool by_interface = !interface_address.empty();
    if (by_interface) socket_api::resolve_ipv4(interface_address.c_str(), nullptr, local);
    if (!socket_api::join_multicast_group(socket, group, by_interface ? &local : nullptr)) {
        error = "cannot join the multicast group " + endpoint->address_text() +
                (by_interface ? " on the interface " + interface_address : std::string()) + ": " +
                tools::socket_error_text();
        return false;
    }
    return true;
}

int run(int argc, char** argv)
{
    const tools::utf8_console console;
    const tools::program_arguments arguments(argc, argv);
    tools::listen_options options;
    std::string error;
    if (!tools::parse_listen_options(arguments.count(), arguments.values(), options, error)) {
        std::fprintf(stderr, "listen: %s\n%s", error.c_str(), tools::listen_usage);
        return 2;
    }
    if (options.help) {
        std::fputs(tools::listen_usage, stdout);
        return 0;
    }
    // The CSV is written where it is, so a device or a pipe will do:
    // /dev/stdout, a pipe another program reads.
    if (!options.csv_path.empty()) {
        const std::vector<tools::named_path> names = {{"--csv", options.csv_path}};
        const std::vector<tools::output_file> outputs = {{"--csv", options.csv_path, false}};
        if (!tools::check_path_names(names, error) || !tools::check_outputs(outputs, {}, error)) {
            std::fprintf(stderr, "listen: %s\n", error.c_str());
            return 2;
        }
    }
    tools::catch_stop_requests();
#if defined(SIGPIPE)
    // A closed pipe is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    if (!socket_api::start()) return fail("the socket layer did not start");
    struct socket_layer {
        ~socket_layer() { socket_api::stop(); }
    } layer;
    if (!options.relay.multicast_interface.empty() && !check_interface(options.relay.multicast_interface, error))
        return fail(error);

    const socket_api::socket_handle socket = socket_api::open_udp();
    if (socket == socket_api::invalid_socket) return fail("cannot open a UDP socket: " + tools::socket_error_text());
    struct socket_closer {
        socket_api::socket_handle socket;
        ~socket_closer() { socket_api::close(socket); }
    } closer{socket};
    // Room for a burst: the system grants what it allows (on Linux up to
    // net.core.rmem_max, twice over).
    socket_api::set_receive_buffer(socket, 4 << 20);
    if (!socket_api::bind_any(socket, options.port, true))
        return fail("cannot listen on UDP port " + std::to_string(options.port) + ": " + tools::socket_error_text());
    if (!options.group.empty() && !join_group(socket, options, error)) return fail(error);

    std::unique_ptr<tools::motion_relay> relay;
    if (!options.relay.destinations.empty()) {
        relay = std::make_unique<tools::motion_relay>();
        if (!relay->open(options.relay, options.port, error)) return fail(error);
    }
    // The CSV is opened last, once nothing can fail before the first datagram:
    // a run that cannot start leaves an earlier file as it was.
    std::FILE* csv = nullptr;
    if (!options.csv_path.empty()) {
        int code = 0;
        csv = tools::open_for_writing(options.csv_path, code);
        if (!csv && tools::is_unread_pipe_error(code)) {
            // Opening it would wait for a reader, deaf to Ctrl-C.
            std::fprintf(stderr, "listen: --csv %s is a pipe that no program reads: start its reader first\n",
                         options.csv_path.c_str());
            return 2;
        }
        if (!csv) return fail("cannot write " + options.csv_path + ": " + tools::system_error_text(code));
    }
    struct csv_file {
        std::FILE*& file;
        ~csv_file()
        {
            if (file) std::fclose(file);
        }
    } csv_closer{csv};
    std::fprintf(stderr, "listen: waiting for motion datagrams on UDP port %u%s%s%s%s\n",
                 static_cast<unsigned>(options.port), options.group.empty() ? "" : " and group ", options.group.c_str(),
                 relay ? ", relaying to " : "", relay ? relay->destinations_text().c_str() : "");

    tools::motion_statistics statistics;
    tools::listener_outputs outputs;
    outputs.table = options.quiet ? nullptr : stdout;
    outputs.csv = csv;
    outputs.csv_name = options.csv_path;
    outputs.notes = stderr;
    bool ok = tools::run_listener(socket, options, relay.get(), outputs, &tools::stop_requested(), statistics, error);
    if (csv) {
        tools::clear_runtime_failure();
        const bool closed = std::fclose(csv) == 0;
        csv = nullptr;
        if (ok && !closed) {
            ok = false;
            error = "writing " + options.csv_path + " failed: " + tools::runtime_failure_text();
        }
    }

    std::fputs(tools::summary_text(statistics.summary(), relay ? &relay->counts() : nullptr).c_str(), stdout);
    std::fflush(stdout);
    if (!ok) return fail(error);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {  // memory ran out
        return fail(std::string("stopped: ") + e.what());
    }
}
