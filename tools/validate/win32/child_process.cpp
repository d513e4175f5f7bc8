#include "tools/validate/win32/child_process.h"

#include <windows.h>

#include "tools/validate/child_verdict.h"
#include "tools/validate/win32/check_support.h"
#include "tools/validate/win32/child_channel.h"

namespace validate {

namespace {

std::string own_path()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

std::optional<check_result> parse_text(const char* text, LONG length)
{
    if (length <= 0) return std::nullopt;
    return parse_result(std::string_view(text, static_cast<std::size_t>(length)));
}

}  // namespace

check_result run_in_child(const validate_options& options, const check_info& check)
{
    channel_owner channel;
    if (!channel.ok()) return failed(failure_kind::expectation, "validate: cannot make the channel to a child process");
    std::vector<std::string> arguments = {own_path()};
    const std::vector<std::string> rest =
        child_arguments(options, check.name, reinterpret_cast<std::uintptr_t>(channel.handle()));
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    std::string command = windows_command_line(arguments);

    // The plug-in's own output would break up the table: the child writes to
    // the null device.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE null_device = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null_device;
    PROCESS_INFORMATION child{};
    // A start that fails says nothing of the plug-in: it is tried again a
    // little later (seen under Wine, once in a few thousand starts).
    BOOL created = FALSE;
    DWORD start_error = 0;
    for (int attempt = 0; attempt < 3 && !created; ++attempt) {
        if (attempt > 0) Sleep(200);
        created = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
        if (!created) start_error = GetLastError();
    }
    if (null_device != INVALID_HANDLE_VALUE) CloseHandle(null_device);
    if (!created) {
        return failed(failure_kind::expectation,
                      "validate: cannot start a child process (error " + std::to_string(start_error) + ")");
    }

    const channel_block& block = channel.block();
    const double start = now_seconds();
    child_ending ending;
    bool call_hung = false;
    // Each call is timed from when the validator first sees it: the two
    // processes' tick counts need not agree.
    LONG64 seen_calls = -1;
    double call_seen_at = start;
    while (WaitForSingleObject(child.hProcess, 50) == WAIT_TIMEOUT) {
        const double now = now_seconds();
        const LONG64 calls = block.calls;
        const auto call = static_cast<plugin_call>(block.call);
        if (calls != seen_calls) {
            seen_calls = calls;
            call_seen_at = now;
        }
        const bool call_hangs = is_timed_call(call) && now - call_seen_at > call_limit_seconds;
        const bool check_hangs = now - start > check_limit_seconds;
        if (call_hangs || check_hangs) {
            ending.killed = true;
            call_hung = call_hangs;
            ending.limit_seconds = call_hangs ? call_limit_seconds : check_limit_seconds;
            TerminateProcess(child.hProcess, 1);
            WaitForSingleObject(child.hProcess, INFINITE);
            break;
        }
    }
    const double seconds = now_seconds() - start;
    DWORD exit_code = 0;
    GetExitCodeProcess(child.hProcess, &exit_code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);

    // Where the check was; "" when it was ended for taking too long in all.
    ending.call = ending.killed && !call_hung ? "" : call_name(static_cast<plugin_call>(block.call));
    ending.frame = static_cast<std::uint64_t>(block.frame);
    ending.exit_code = exit_code;
    ending.reported = parse_text(block.result, block.result_length);
    ending.fault = parse_text(block.fault, block.fault_length);
    if (block.exit_code_expected) ending.expected_exit_code = static_cast<std::uint32_t>(block.expected_exit_code);
    check_result result = judge_child(ending);
    result.seconds = seconds;
    return result;
}

}  // namespace validate
