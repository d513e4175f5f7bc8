// The host simulator: stands in for a flight simulator that loads the
// plug-in, so it can be run and watched without one.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <memory>

#include "tools/common/file_replacement.h"
#include "tools/common/file_system.h"
#include "tools/common/path_names.h"
#include "tools/common/program_arguments.h"
#include "tools/common/scratch_folder.h"
#include "tools/common/stop_requests.h"
#include "tools/common/system_error.h"
#include "tools/common/terminal.h"
#include "tools/common/win32/plugin_library.h"
#include "tools/host/frame_printer.h"
#include "tools/host/host_options.h"
#include "tools/host/host_session.h"
#include "tools/host/win32/plugin_calls.h"

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "host: %s\n", message.c_str());
    return 1;
}

// The run itself, from the frame source to the summary; the exit status.
int run(const tools::host_options& options);

}  // namespace

int main(int argc, char** argv)
{
    const tools::utf8_console console;
    const tools::program_arguments arguments(argc, argv);
    tools::host_options options;
    std::string error;
    if (!tools::parse_host_options(arguments.count(), arguments.values(), options, error)) {
        std::fprintf(stderr, "host: %s\n%s", error.c_str(), tools::host_usage);
        return 2;
    }
    if (options.help) {
        std::fputs(tools::host_usage, stdout);
        return 0;
    }
    if (!tools::check_path_names({{"the plug-in", options.plugin_path},
                                  {"--record", options.record_path},
                                  {"--replay", options.replay_path}},
                                 error)) {
        std::fprintf(stderr, "host: %s\n", error.c_str());
        return 2;
    }
    // A plug-in that cannot be loaded is told before any file is touched.
    error = tools::plugin_library::path_problem(options.plugin_path);
    if (!error.empty()) return fail(error);
    if (!tools::check_host_outputs(options, error)) {
        std::fprintf(stderr, "host: %s\n", error.c_str());
        return 2;
    }
    // From here on a crash of the plug-in ends the run with a report, and a
    // request to stop ends the flight the way Ctrl-C does.
    host::report_crashes();
    tools::catch_stop_requests();
    if (!options.scratch) return run(options);

    // The files named on the command line stay where they are named from here.
    options.plugin_path = tools::absolute_path(options.plugin_path);
    if (!options.record_path.empty()) options.record_path = tools::absolute_path(options.record_path);
    if (!options.replay_path.empty()) options.replay_path = tools::absolute_path(options.replay_path);
    tools::scratch_folder scratch;
    if (!scratch.enter("skarvel-host", error)) return fail(error);
    const int status = run(options);
    // Kept when asked, and for a look after a run that failed, unless there
    // is nothing to see.
    const bool keep = options.keep_scratch || (status != 0 && !scratch.empty());
    if (!scratch.leave(!keep, error)) {
        std::fprintf(stderr, "host: %s\n", error.c_str());
        return status == 0 ? 1 : status;
    }
    if (keep) {
        std::fprintf(status == 0 ? stdout : stderr, "host: the plug-in's scratch folder is kept: %s\n",
                     scratch.path().c_str());
    } else if (scratch.files_removed() > 0) {
        std::printf("host: removed the plug-in's scratch folder with the %llu file(s) it wrote there\n",
                    static_cast<unsigned long long>(scratch.files_removed()));
    }
    return status;
}

namespace {

int run(const tools::host_options& options)
{
    std::string error;
    std::unique_ptr<tools::frame_source> source;
    const tools::replay_source* replayed = nullptr;
    if (!options.replay_path.empty()) {
        auto replay = std::make_unique<tools::replay_source>();
        if (!replay->open(options.replay_path, error)) return fail(error);
        replayed = replay.get();
        source = std::move(replay);
    } else {
        source = std::make_unique<tools::scenario_source>(options.rate, options.start);
    }

    // The recording takes the place of an earlier file only when the run
    // succeeds; until then it is a temporary file beside it.
    tools::file_replacement record;
    if (!options.record_path.empty()) {
        if (!record.open(options.record_path, error)) return fail(error);
        if (!tools::write_recording_header(record.stream()))
            return fail("cannot write the recording " + options.record_path);
    }

    // A simulator starts Windows Sockets before the plug-in's first Update.
    WSADATA wsa;
    const int started = WSAStartup(MAKEWORD(2, 2), &wsa);
    if (started != 0) return fail("Windows Sockets did not start: " + tools::system_error_text(started));

    tools::plugin_library plugin;
    host::entering("LoadLibrary", true);
    const bool loaded = plugin.load(options.plugin_path, error);
    host::left();
    if (!loaded) {
        WSACleanup();
        return fail(error);
    }

    tools::session_settings settings;
    settings.rate = options.rate;
    settings.use_source_pace = !options.rate_given;
    settings.paced = !options.fast;
    settings.max_frames = options.frames;
    settings.max_seconds = options.duration;
    settings.record = options.record_path.empty() ? nullptr : &record.stream();
    settings.stop = &tools::stop_requested();
    // Per frame, the values asked for; the live status line would break into them.
    tools::frame_printer printer(options.print);
    std::string line;
    if (!options.print.empty()) {
        std::puts(printer.header().c_str());
        settings.on_frame = [&](std::uint64_t frame, const std::vector<std::uint8_t>& stream, std::uint32_t count) {
            printer.format(frame, stream.data(), stream.size(), count, line);
            std::puts(line.c_str());
        };
    }
    const bool live = !options.quiet && options.print.empty() && tools::is_terminal(stderr);
    if (live) {
        settings.on_status = [](std::uint64_t frames, double seconds) {
            std::fprintf(stderr, "\rhost: %llu frames  %.1f Hz  %.1f s ", static_cast<unsigned long long>(frames),
                         seconds > 0 ? static_cast<double>(frames) / seconds : 0.0, seconds);
            std::fflush(stderr);
        };
    }

    const tools::session_result result = tools::run_session(host::watched(plugin.entry_points()), *source, settings);
    if (live) std::fputc('\n', stderr);
    host::entering("FreeLibrary", true);
    plugin.unload();
    host::left();
    WSACleanup();

    if (!result.ok) return fail(result.error);
    std::printf("host: %llu frames, %llu messages in %.2f s (%.1f Hz); Shutdown took %.2f s; unloaded\n",
                static_cast<unsigned long long>(result.frames), static_cast<unsigned long long>(result.messages),
                result.seconds, result.seconds > 0 ? static_cast<double>(result.frames) / result.seconds : 0.0,
                result.shutdown_seconds);
    if (result.nonzero_outputs != 0) {
        std::fprintf(stderr, "host: %llu Updates left an output other than 0\n",
                     static_cast<unsigned long long>(result.nonzero_outputs));
        return 1;
    }
    for (const std::string& name : printer.never_seen())
        std::fprintf(stderr, "host: --print: no frame held %s\n", name.c_str());
    if (replayed != nullptr && !replayed->cut_short().empty())
        std::fprintf(stderr,
                     "host: recording: %s: the recording ends there, cut short; the %llu whole frames before it "
                     "were sent\n",
                     replayed->cut_short().c_str(), static_cast<unsigned long long>(result.frames));
    // A run that never sent a frame did not run the plug-in: it is no success,
    // and its empty recording takes no earlier file's place.
    if (result.frames == 0) {
        if (tools::stop_requested()) return fail("stopped before the first frame");
        if (!options.replay_path.empty()) return fail("the recording " + options.replay_path + " holds no frames");
        return fail("no frame was sent within the --duration");
    }
    if (!options.record_path.empty() && !record.commit(error)) return fail(error);
    return 0;
}

}  // namespace
