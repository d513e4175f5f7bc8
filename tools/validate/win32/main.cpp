// validate.exe: checks a plug-in DLL of the plug-in interface, each check in
// a child process of its own (this program, started again with --child).
#include <winsock2.h>
#include <windows.h>

#include <cstdio>

#include "tools/common/file_replacement.h"
#include "tools/common/file_system.h"
#include "tools/validate/report.h"
#include "tools/validate/stream_frames.h"
#include "tools/validate/validate_options.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/child_process.h"
#include "tools/validate/win32/fault_capture.h"

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

DWORD WINAPI host_thread(void* parameter)
{
    const auto& child = *static_cast<const child_run*>(parameter);
    set_host_thread();
    // A simulator starts Windows Sockets before the plug-in's first Update.
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    check_context context{*child.options, child.options->seed.value_or(0)};
    write_result(child.run(context));
    return 0;
}

int run_child(validate_options options)
{
    if (!open_channel(options.channel)) return 2;
    // The plug-in is loaded and read by its full path: the loader searches
    // its own folders for a bare name.
    options.plugin_path = tools::absolute_path(options.plugin_path);
    install_fault_capture();
    const child_run child{&options, find_check_function(options.child_check)};
    if (child.run == nullptr) {
        write_result(failed(failure_kind::expectation, "validate: no body for the check " + options.child_check));
        return 0;
    }
    const HANDLE thread = CreateThread(nullptr, 0, host_thread, const_cast<child_run*>(&child), 0, nullptr);
    if (thread == nullptr) return 2;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 0;
}

int run_checks(validate_options& options)
{
    const DWORD attributes = GetFileAttributesA(options.plugin_path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "validate: no plug-in file at %s\n", options.plugin_path.c_str());
        return 2;
    }
    // Each report file is written only when the run is complete, to a
    // temporary file made now: a path that cannot be written, or that would
    // cost the plug-in or the other report, is refused before any check.
    std::string error;
    tools::file_replacement junit;
    tools::file_replacement json;
    if (!check_report_targets(options, error) ||
        (!options.junit_path.empty() && !junit.open(options.junit_path, error)) ||
        (!options.json_path.empty() && !json.open(options.json_path, error))) {
        std::fprintf(stderr, "validate: %s\n", error.c_str());
        return 2;
    }
    if (!options.seed) options.seed = chosen_seed();

    run_report report;
    report.plugin = options.plugin_path;
    report.seed = *options.seed;
    report.quick = options.quick;
    report.budget_ms = options.budget_ms;
    std::printf("validate %s: %zu checks%s, seed %llu (replay: --seed %llu --only CHECK)\n\n",
                options.plugin_path.c_str(), options.checks.size(), options.quick ? " (quick)" : "",
                static_cast<unsigned long long>(report.seed), static_cast<unsigned long long>(report.seed));
    write_table_heading(stdout);
    const double start = now_seconds();
    for (const check_info* check : options.checks) {
        check_result result = run_in_child(options, *check);
        write_table_line(stdout, *check, result);
        report.results.emplace_back(check, std::move(result));
    }
    report.seconds = now_seconds() - start;
    std::printf("\nvalidate: %zu passed, %zu failed, %zu skipped in %.1f s\n", report.count(outcome::passed),
                report.count(outcome::failed), report.count(outcome::skipped), report.seconds);

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
    if (!written) return 2;
    return report.count(outcome::failed) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    validate_options options;
    std::string error;
    if (!parse_validate_options(argc - 1, argv + 1, options, error)) {
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
    if (!options.child_check.empty()) return run_child(options);
    return run_checks(options);
}
