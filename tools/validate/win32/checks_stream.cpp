// The stream group: frames of every kind in a stream that can only be read,
// ending right before a page that cannot be touched at all.
#include "tools/validate/child_verdict.h"
#include "tools/validate/stream_frames.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/guarded_stream.h"

namespace validate {

namespace {

// Init, each frame in the guarded stream (with a frame of the flight, the
// built-in one or the recording, before each, so a plug-in sees a change),
// Shutdown.
check_result feed(const check_context& context, const std::vector<test_frame>& frames, const std::string& summary)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    guarded_stream stream;
    flight_frames flight;
    std::vector<std::uint8_t> flight_stream;
    std::uint32_t flight_count = 0;
    double flight_step = 0.0;
    for (const test_frame& frame : frames) {
        flight.next(flight_stream, flight_count, flight_step);
        set_frame_note(flight.what());
        plugin.update(flight_step, stream.place(flight_stream, current_frame() + 1), flight_count);
        stream.close_after_call();
        set_frame_note(frame.what);
        plugin.update(frame.time_step, stream.place(frame.stream, current_frame() + 1), frame.count);
        stream.close_after_call();
        pump_messages();
    }
    set_frame_note("");
    plugin.shutdown();
    plugin.unload();
    return passed(summary);
}

}  // namespace

namespace bodies {

check_result stream_data_types(const check_context& context)
{
    const std::vector<test_frame> frames = data_type_frames();
    return feed(context, frames, std::to_string(frames.size()) + " frames: every data type, full and cut short");
}

check_result stream_unknown_identifiers(const check_context& context)
{
    return feed(context, unknown_identifier_frames(),
                "unknown identifiers, data types 8 to 255, motion names mistyped");
}

check_result stream_sizes(const check_context& context)
{
    return feed(context, size_frames(), "Size 0, 63, 64, 65, 128, 129 and 65535, alone and followed");
}

check_result stream_empty(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    guarded_stream stream;
    const auto empty_frames = [&](const char* when) {
        set_frame_note(std::string("count 0 with a null stream, ") + when);
        plugin.update(1.0 / 60.0, nullptr, 0);
        set_frame_note(std::string("count 0 with a stream of no bytes, ") + when);
        plugin.update(1.0 / 60.0, stream.place({}, current_frame() + 1), 0);
        stream.close_after_call();
    };
    empty_frames("before Init");
    if (auto fault = try_init(plugin)) return *fault;
    empty_frames("right after Init");
    frame_loop(plugin, true).run(10);
    for (int i = 0; i < 20; ++i) empty_frames("after frames");
    plugin.shutdown();
    empty_frames("after Shutdown");
    plugin.unload();
    return passed("count 0 with a null stream and with no bytes, before, during and after a run");
}

check_result stream_special_values(const check_context& context)
{
    return feed(context, special_value_frames(), "NaN, infinities, extremes, denormals and -0");
}

check_result stream_large_frames(const check_context& context)
{
    const int count = context.scaled(6, 2);
    std::vector<test_frame> frames;
    frames.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) frames.push_back(large_frame(10000, static_cast<std::uint64_t>(i)));
    return feed(context, frames, std::to_string(frames.size()) + " frames of 10,000 messages");
}

check_result stream_random(const check_context& context)
{
    const int count = context.scaled(2000, 400);
    std::vector<test_frame> frames;
    frames.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) frames.push_back(random_frame(context.seed, static_cast<std::uint64_t>(i)));
    return feed(context, frames, std::to_string(count) + " random frames of seed " + std::to_string(context.seed));
}

check_result stream_flight(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    if (auto fault = try_init(plugin)) return *fault;
    guarded_stream stream;
    flight_frames flight;
    const std::uint64_t length = flight.length();
    // A long recording, or a slow plug-in, gets the frames that fit in this
    // time, and the result says how many that was.
    const double seconds = context.scaled(30, 10);
    const double start = now_seconds();
    std::vector<std::uint8_t> bytes;
    std::uint32_t count = 0;
    double time_step = 0.0;
    std::uint64_t handed = 0;
    for (; handed < length && now_seconds() - start < seconds; ++handed) {
        flight.next(bytes, count, time_step);
        set_frame_note(flight.what());
        plugin.update(time_step, stream.place(bytes, current_frame() + 1), count);
        stream.close_after_call();
        pump_messages();
    }
    set_frame_note("");
    plugin.shutdown();
    plugin.unload();
    const std::string flown = flight.recorded() ? "the recording" : "the built-in flight's first 20 s";
    check_result result =
        handed == length
            ? passed("the " + std::to_string(length) + " frames of " + flown + ", in order")
            : passed("the first " + std::to_string(handed) + " of the " + std::to_string(length) + " frames of " +
                     flown + ", in order: the others did not fit in " + seconds_text(seconds));
    result.figures.emplace_back("frames", double(handed));
    result.figures.emplace_back("frames_in_flight", double(length));
    return result;
}

}  // namespace bodies

}  // namespace validate
