#include "tools/listen/listener.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "tools/listen/motion_table.h"

namespace tools {
namespace {

constexpr int poll_ms = 100;  // how often a stop request or the end of the duration is seen
constexpr std::uint64_t notes_shown = 10;
constexpr int failures_tolerated = 50;

void put(std::FILE* file, const std::string& text)
{
    if (!file) return;
    std::fputs(text.c_str(), file);
    std::fflush(file);
}

}  // namespace

bool run_listener(socket_api::socket_handle socket, const listen_options& options, motion_relay* relay,
                  const listener_outputs& outputs, const std::atomic<bool>* stop, motion_statistics& statistics,
                  std::string& error)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(clock::now() - start).count(); };

    put(outputs.table, table_header());
    put(outputs.csv, csv_header());
    std::uint8_t buffer[2048];  // room to see a datagram of the wrong size as such
    std::uint64_t malformed = 0;
    int failures = 0;
    for (;;) {
        if (stop && stop->load()) break;
        if (options.count && statistics.valid() >= *options.count) break;
        int timeout = poll_ms;
        if (options.duration) {
            const double left = *options.duration - seconds();
            if (left <= 0.0) break;
            timeout = std::min(poll_ms, static_cast<int>(left * 1000.0) + 1);
        }
        socket_api::address from;
        const std::ptrdiff_t got = socket_api::receive(socket, buffer, sizeof buffer, timeout, &from);
        if (got == socket_api::receive_timed_out) continue;
        if (got == socket_api::receive_failed) {
            if (++failures >= failures_tolerated) {
                error = "receiving failed " + std::to_string(failures) + " times in a row (system error " +
                        std::to_string(socket_api::last_error()) + ")";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        failures = 0;
        const double arrival = seconds();
        const auto length = static_cast<std::size_t>(got);
        decoded_motion motion;
        const datagram_kind kind = statistics.add(buffer, length, arrival, motion);
        if (kind != datagram_kind::valid) {
            if (++malformed <= notes_shown && outputs.notes) {
                const std::optional<ipv4_endpoint> sender = ipv4_endpoint_of(from);
                std::fprintf(outputs.notes, "listen: ignored a %zu-byte datagram from %s (%s)%s\n", length,
                             sender ? sender->text().c_str() : "?",
                             kind == datagram_kind::wrong_size ? "wrong size" : "wrong marker",
                             malformed == notes_shown ? "; further ones are only counted" : "");
                std::fflush(outputs.notes);
            }
            continue;
        }
        if (relay) relay->forward(buffer, length, &from);
        put(outputs.csv, csv_row(motion, arrival));
        if ((statistics.valid() - 1) % options.every == 0) put(outputs.table, table_row(motion));
    }
    return true;
}

}  // namespace tools
