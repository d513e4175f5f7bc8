#include "tools/listen/listener.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "tools/common/system_error.h"
#include "tools/listen/motion_derivative.h"
#include "tools/listen/motion_table.h"

namespace tools {
namespace {

constexpr double poll_seconds = 0.1;  // how often a stop request or the end of the duration is seen
constexpr std::uint64_t notes_shown = 10;
constexpr int failures_tolerated = 50;
// Room for the largest UDP datagram over IPv4 (65 507 bytes), so that a
// datagram of the wrong size is never cut and is reported with its own size.
constexpr std::size_t largest_datagram = 65536;

// Writes and flushes; false with the system's reason when the text did not
// reach the file. No file, no failure.
bool put(std::FILE* file, const std::string& text, std::string& why)
{
    if (!file) return true;
    clear_runtime_failure();
    if (std::fputs(text.c_str(), file) >= 0 && std::fflush(file) == 0) return true;
    why = runtime_failure_text();
    if (why.empty()) why = "write error";
    std::clearerr(file);
    return false;
}

// The receive loop itself, until the run's end or a failure.
bool receive(socket_api::socket_handle socket, const listen_options& options, motion_relay* relay,
             const listener_outputs& outputs, const std::atomic<bool>* stop, motion_statistics& statistics,
             std::string& error)
{
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(clock::now() - start).count(); };

    std::string why;
    auto write_table = [&](const std::string& text) {
        if (put(outputs.table, text, why)) return true;
        error = "writing the table failed: " + why;
        return false;
    };
    auto write_csv = [&](const std::string& text) {
        if (put(outputs.csv, text, why)) return true;
        error = "writing " + outputs.csv_name + " failed: " + why;
        return false;
    };
    if (!write_table(table_header(options.derive)) || !write_csv(csv_header(options.derive))) return false;

    std::vector<std::uint8_t> buffer(largest_datagram);
    motion_differentiator differentiator;
    std::uint64_t malformed = 0;
    int failures = 0;
    for (;;) {
        if (stop && stop->load()) break;
        if (options.count && statistics.valid() >= *options.count) break;
        const double now = seconds();
        if (relay) relay->flush(now);
        // The wait ends in time for the end of the duration and for a
        // datagram that the relay holds back.
        double wait = poll_seconds;
        if (options.duration) {
            const double left = *options.duration - now;
            if (left <= 0.0) break;
            wait = std::min(wait, left);
        }
        if (relay && relay->due()) wait = std::min(wait, std::max(0.0, *relay->due() - now));
        const int timeout_ms = static_cast<int>(std::ceil(wait * 1000.0));

        socket_api::address from;
        const std::ptrdiff_t got = socket_api::receive(socket, buffer.data(), buffer.size(), timeout_ms, &from);
        if (got == socket_api::receive_timed_out) continue;
        if (got == socket_api::receive_failed) {
            if (++failures >= failures_tolerated) {
                error = "receiving failed " + std::to_string(failures) + " times in a row: " + socket_error_text();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        failures = 0;
        const double arrival = seconds();
        const auto length = static_cast<std::size_t>(got);
        decoded_motion motion;
        const datagram_kind kind = classify_datagram(buffer.data(), length, motion);
        if (kind != datagram_kind::valid) {
            statistics.add_malformed(kind);
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
        if (relay) {
            motion_datagram datagram;
            std::copy_n(buffer.begin(), datagram.size(), datagram.begin());
            if (relay->take(datagram, from, arrival) != relay_verdict::taken) continue;
        }
        statistics.add_valid(motion, arrival);
        std::optional<derived_motion> derived;
        if (options.derive) derived = differentiator.add(motion);
        const derived_motion* d = derived ? &*derived : nullptr;
        // Rows are made only where they are written.
        if (outputs.csv && !write_csv(csv_row(motion, arrival, options.derive, d))) return false;
        if (outputs.table && (statistics.valid() - 1) % options.every == 0 &&
            !write_table(table_row(motion, options.derive, d)))
            return false;
    }
    return true;
}

}  // namespace

bool run_listener(socket_api::socket_handle socket, const listen_options& options, motion_relay* relay,
                  const listener_outputs& outputs, const std::atomic<bool>* stop, motion_statistics& statistics,
                  std::string& error)
{
    const receive_drop_counter drops(socket);
    const bool ok = receive(socket, options, relay, outputs, stop, statistics, error);
    statistics.set_dropped(drops.since_start());
    if (relay) relay->finish();
    return ok;
}

}  // namespace tools
