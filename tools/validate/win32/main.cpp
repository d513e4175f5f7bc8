// validate.exe: checks a plug-in DLL of the plug-in interface, each check in
// a child process of its own (this program, started again with --child).
#include <winsock2.h>
#include <windows.h>

#include <cstdio>

#include "tools/common/file_replacement.h"
#include "tools/common/file_system.h"
#include "tools/common/path_names.h"
#include "tools/common/program_arguments.h"
#include "tools/common/terminal.h"
#include "tools/common/win32/plugin_library.h"
#include "tools/validate/child_verdict.h"
#include "tools/validate/memory_reserve.h"
#include "tools/validate/recorded_flight.h"
#include "tools/validate/report.h"
#include "tools/validate/stream_frames.h"
#include "tools/validate/validate_options.h"
#include "tools/validate/win32/check_runner.h"
#include "tools/validate/win32/check_support.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/fault_capture.h"
#include "tools/validate/win32/frame_names.h"
#include "tools/validate/win32/module_table.h"
#include "tools/validate/win32/state_watch.h"

namespace {

using namespace validate;

std::uint64_t chosen_seed()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    split_mix mix(static_cast<std::uint64_t>(counter.QuadPart) ^
                  (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32));
    return mix.next() % 1000000000u;  // short enough to type
}

void list_checks()
{
    std::string_view group;
    for (const check_info& check : all_checks()) {
        if (group_of(check.name) != group) {
            group = group_of(check.name);
            std::printf("%s%.*s\n", group == "file" ? "" : "\n", static_cast<int>(group.size()), group.data());
        }
        std::printf("  %-34.*s %.*s\n", static_cast<int>(check.name.size()), check.name.data(),
                    static_cast<int>(check.description.size()), check.description.data());
    }
}

// In a child: run the one check and leave its result in the channel. The
// check runs on a thread of its own, the host's thread, started without the
// C runtime's start-up frames, whose handler would take a C++ exception that
// left the plug-in and let it end in abort(): on this thread it reaches the
// unhandled-exception filter, which names it.
struct child_run {
    const validate_options* options;
    check_function run;
};

// The run's results: the check's own, and those of the checks that share its
// body.
std::vector<std::pair<std::string_view, check_result>> run_body(const child_run& child)
{
    const check_info& check = *child.options->checks.front();
    std::vector<std::pair<std::string_view, check_result>> others;
    check_context context{*child.options, child.options->seed.value_or(0), &check, &others};
    // No exception is caught here: one that left the plug-in would be taken
    // for the validator's own. Each reaches the fault capture, which tells
    // them apart by the call the host's thread was in.
    std::vector<std::pair<std::string_view, check_result>> results;
    results.emplace_back(check.name, child.run(context));
    for (auto& other : others) results.push_back(std::move(other));
    // A DLL unmapped since its FreeLibrary returned (its last thread let go).
    process_watch().after_unload();
    return results;
}

DWORD WINAPI host_thread(void* parameter)
{
    const auto& child = *static_cast<const child_run*>(parameter);
    set_host_thread();
    suppress_dialogs_on_this_thread();
    // A simulator starts Windows Sockets before the plug-in's first Update.
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    process_watch().start();
    mark_started();
    write_results(run_body(child));
    return 0;
}

int run_child(const validate_options& options)
{
    if (!open_channel(options.channel)) return 2;
    if (!options.recording_path.empty()) fly_recording(options.recording_path, options.recording_frames);
    start_module_table();
    install_fault_capture();
    const child_run child{&options, check_body(*options.checks.front())};
    const HANDLE thread = CreateThread(nullptr, 0, host_thread, const_cast<child_run*>(&child), 0, nullptr);
    if (thread == nullptr) return 2;
    watch_host_thread(thread);
    WaitForSingleObject(thread, INFINITE);
    DWORD thread_exit_code = 0;
    GetExitCodeThread(thread, &thread_exit_code);
    if (channel()->result_length == 0) report_host_thread_end(thread_exit_code);
    // A plug-in whose unload fails stays loaded: its DllMain must not run at
    // the process's exit either.
    if (leave_loaded()) TerminateProcess(GetCurrentProcess(), 0);
    begin_call(plugin_call::process_exit);
    return 0;
}

int run_checks(validate_options& options)
{
    // The file named is the file judged: a name Windows would take for
    // another file or a device, a folder, an import library, a path too long
    // to load from are each refused before any check.
    std::string error;
    if (!tools::check_path_names(
            {{"the plug-in", options.plugin_path}, {"--junit", options.junit_path}, {"--json", options.json_path}},
            error) ||
        !(error = tools::plugin_library::path_problem(options.plugin_path)).empty()) {
        std::fprintf(stderr, "validate: %s\n", error.c_str());
        return 2;
    }
    // Each report file is written only when the run is complete, to a
    // temporary file made now: a path that cannot be written, or that would
    // cost the plug-in or the other report, is refused before any check.
    tools::file_replacement junit;
    tools::file_replacement json;
    if (!check_report_targets(options, error) ||
        (!options.junit_path.empty() && !junit.open(options.junit_path, error)) ||
        (!options.json_path.empty() && !json.open(options.json_path, error))) {
        std::fprintf(stderr, "validate: %s\n", error.c_str());
        return 2;
    }
    // A recording is read through before any check: the checks fly its
    // frames up to the last good one, or none when it has none.
    recording_survey survey;
    if (!options.recording_path.empty()) {
        if (!survey_recording(options.recording_path, recording_frame_limit, survey, error)) {
            std::fprintf(stderr, "validate: --recording: %s\n", error.c_str());
            return 2;
        }
        options.recording_frames = survey.frames;
    }
    if (!options.seed) options.seed = chosen_seed();
    // Kept for the report: a machine short of memory still gets one.
    const memory_reserve reserve(report_reserve_bytes);

    run_report report;
    report.plugin = options.plugin_path;
    if (!options.recording_path.empty()) {
        report.recording = options.recording_path;
        report.recording_frames = survey.frames;
        report.recording_used = describe_survey(options.recording_path, survey);
    }
    // The children run in working folders of their own.
    options.plugin_path = tools::absolute_path(options.plugin_path);
    if (!options.recording_path.empty()) options.recording_path = tools::absolute_path(options.recording_path);
    // Nor do they get this program's own output: a child that outlived it
    // would keep the caller's pipe open.
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, 0);
    report.seed = *options.seed;
    report.quick = options.quick;
    report.budget_ms = options.budget_ms;
    std::printf("validate %s: %zu checks%s, seed %llu (replay: --seed %llu --only CHECK)\n\n", report.plugin.c_str(),
                options.checks.size(), options.quick ? " (quick)" : "", static_cast<unsigned long long>(report.seed),
                static_cast<unsigned long long>(report.seed));
    if (!report.recording.empty()) std::printf("flight: %s\n\n", report.recording_used.c_str());
    write_table_heading(stdout);
    const double start = now_seconds();
    std::vector<check_result> results = run_checks_in_children(options, stdout);
    for (std::size_t i = 0; i < results.size(); ++i)
        report.results.emplace_back(options.checks[i], std::move(results[i]));
    report.seconds = now_seconds() - start;
    write_summary_line(stdout, report);

    bool written = true;
    const auto write = [&](tools::file_replacement& file, const std::string& path, const std::string& text) {
        if (path.empty()) return;
        file.stream() << text;
        if (!file.commit(error)) {
            std::fprintf(stderr, "validate: %s\n", error.c_str());
            written = false;
        }
    };
    write(junit, options.junit_path, junit_report(report));
    write(json, options.json_path, json_report(report));
    // The run's verdict stands whatever became of its reports; a report
    // that could not be written is the validator's own failure.
    if (report.count(outcome::failed) > 0) return 1;
    return report.count(outcome::error) > 0 || !written ? 3 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const tools::utf8_console console;
    const tools::program_arguments arguments(argc, argv);
    validate_options options;
    std::string error;
    if (!parse_validate_options(arguments.count(), arguments.values(), options, error)) {
        std::fprintf(stderr, "validate: %s\n%s", error.c_str(), validate_usage);
        return 2;
    }
    if (options.help) {
        std::fputs(validate_usage, stdout);
        return 0;
    }
    if (options.list) {
        list_checks();
        return 0;
    }
    if (!options.name_offsets.empty()) return print_offset_names(options.plugin_path, options.name_offsets);
    if (!options.child_check.empty()) return run_child(options);
    return run_checks(options);
}
