#include "tools/host/host_session.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "tools/common/system_error.h"

namespace tools {

session_result run_session(const plugin_interface::entry_points& plugin, frame_source& source,
                           const session_settings& settings)
{
    using clock = std::chrono::steady_clock;
    session_result result;

    const std::int64_t version = plugin.get_interface_version();
    if (version != plugin_interface::version) {
        result.error = "the plug-in answers interface version " + std::to_string(version) + ", expected " +
                       std::to_string(plugin_interface::version);
        return result;
    }
    if (!plugin.init(nullptr)) {
        result.error = "the plug-in's Init answered false";
        return result;
    }

    const clock::time_point start = clock::now();
    clock::time_point deadline = start;
    clock::time_point next_status = start;
    std::vector<std::uint8_t> stream;
    auto elapsed = [&] { return std::chrono::duration<double>(clock::now() - start).count(); };

    for (;;) {
        if (settings.stop && settings.stop->load()) break;
        if (settings.max_frames && result.frames >= *settings.max_frames) break;
        if (settings.max_seconds && elapsed() >= *settings.max_seconds) break;

        double time_step = 0.0;
        std::uint32_t count = 0;
        if (!source.next(time_step, count, stream, result.error)) break;

        std::int32_t output1 = -1;  // the plug-in must set both to 0
        std::int32_t output2 = -1;
        // An empty stream still needs a valid address.
        static const std::uint8_t no_bytes[1] = {};
        plugin.update(time_step, stream.empty() ? no_bytes : stream.data(), 0, count, nullptr, &output1, &output2);
        if (output1 != 0 || output2 != 0) ++result.nonzero_outputs;
        ++result.frames;
        result.messages += count;
        if (settings.on_frame) settings.on_frame(result.frames, stream, count);

        // The C runtime holds the reason of a failed write (a full disk); the
        // stream keeps none.
        if (settings.record) clear_runtime_failure();
        if (settings.record &&
            !write_recorded_frame(*settings.record, time_step, count, stream.data(), stream.size())) {
            const std::string reason = runtime_failure_text();
            result.error = "writing the recording failed at frame " + std::to_string(result.frames) +
                           (reason.empty() ? std::string() : ": " + reason);
            break;
        }

        const clock::time_point now = clock::now();
        if (settings.on_status && now >= next_status) {
            settings.on_status(result.frames, elapsed());
            next_status = now + std::chrono::milliseconds(250);
        }
        if (!settings.paced) continue;
        // Keep to the schedule without bursts: after a stall of more than a
        // quarter second the schedule starts again from now.
        const double period =
            settings.use_source_pace && source.keeps_own_pace() ? std::clamp(time_step, 0.0, 1.0) : 1.0 / settings.rate;
        deadline += std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(period));
        if (now - deadline > std::chrono::milliseconds(250)) deadline = now;
        // In short naps, so that a stop is seen at once even at a slow rate.
        while (clock::now() < deadline && !(settings.stop && settings.stop->load()))
            std::this_thread::sleep_until(std::min(deadline, clock::now() + std::chrono::milliseconds(50)));
    }

    result.seconds = elapsed();
    const clock::time_point shutdown_start = clock::now();
    plugin.shutdown();
    result.shutdown_seconds = std::chrono::duration<double>(clock::now() - shutdown_start).count();
    if (settings.on_status) settings.on_status(result.frames, result.seconds);
    result.ok = result.error.empty();
    return result;
}

}  // namespace tools
