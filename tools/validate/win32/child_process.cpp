#include "tools/validate/win32/child_process.h"

#include "tools/common/system_error.h"
#include "tools/common/win32/plugin_library.h"
#include "tools/common/win32/wide_text.h"
#include "tools/validate/win32/plugin_under_test.h"

namespace validate {

namespace {

std::string_view text_of(const char* text, LONG length)
{
    return length > 0 ? std::string_view(text, static_cast<std::size_t>(length)) : std::string_view();
}

// The child's own watchdog reports a hang at the hang limit: the validator
// steps in only when that report is this much overdue.
constexpr double watchdog_grace_seconds = 3.0;
// How long a child that was ended may take to go.
constexpr DWORD end_wait_ms = 5000;

}  // namespace

std::string own_path()
{
    return tools::utf8_text(tools::module_path(nullptr));
}

child_check::child_check(const validate_options& options, std::vector<const check_info*> run,
                         const child_settings& settings)
    : run_(std::move(run)), settings_(settings)
{
    started_ = now_seconds();
    if (!channel_.ok()) {
        error_ = validator_error("validate: cannot make the channel to a child process: " +
                                 tools::system_error_text(static_cast<int>(GetLastError())));
        return;
    }
    channel_block& block = channel_.settings();
    block.hang_limit_ms = static_cast<LONG>(settings.hang_limit_seconds * 1000.0);
    block.leave_loaded = settings.leave_loaded ? 1 : 0;
    block.memory_limit = static_cast<LONG64>(settings.memory_limit);

    std::vector<std::string> arguments = {own_path()};
    const std::vector<std::string> rest =
        child_arguments(options, run_.front()->name, reinterpret_cast<std::uintptr_t>(channel_.handle()));
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    // In UTF-16, so that any name of the plug-in's reaches the child whole.
    std::wstring command = tools::wide_text(windows_command_line(arguments));
    const std::wstring folder = tools::wide_text(settings.folder);

    // The plug-in's own output would break up the table: the child writes to
    // the null device.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE null_device = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
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
        created = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &startup, &child);
        if (!created) start_error = GetLastError();
    }
    if (null_device != INVALID_HANDLE_VALUE) CloseHandle(null_device);
    if (!created) {
        error_ = validator_error("validate: cannot start a child process: " +
                                 tools::system_error_text(static_cast<int>(start_error)));
        return;
    }
    CloseHandle(child.hThread);
    process_ = child.hProcess;
    process_id_ = child.dwProcessId;
    call_seen_at_ = started_;
}

child_check::~child_check()
{
    if (process_ != nullptr && !ended_) end_it(ended_by::check_limit, check_limit_seconds);
    if (process_ != nullptr) CloseHandle(process_);
}

void child_check::end_it(ended_by ender, double limit)
{
    ending_.ender = ender;
    ending_.limit_seconds = limit;
    TerminateProcess(process_, 1);
    if (WaitForSingleObject(process_, end_wait_ms) != WAIT_OBJECT_0) ending_.left_running = true;
}

bool child_check::poll(double now, double run_deadline)
{
    if (ended_) return true;
    // Without a channel no child was started.
    if (process_ == nullptr || !channel_.ok()) {
        ended_ = true;
        return true;
    }
    const channel_block& block = channel_.block();
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        // Each call is timed from when the validator first sees it: the two
        // processes' clocks need not agree.
        const LONG64 calls = block.calls;
        if (calls != seen_calls_) {
            seen_calls_ = calls;
            call_seen_at_ = now;
        }
        const auto call = static_cast<plugin_call>(block.call);
        // The child's watchdog cannot time the process's exit: the validator does.
        const double call_limit =
            settings_.hang_limit_seconds + (call == plugin_call::process_exit ? 0.0 : watchdog_grace_seconds);
        if (now >= run_deadline)
            end_it(ended_by::run_limit, settings_.run_limit_seconds);
        else if (is_timed_call(call) && now - call_seen_at_ > call_limit)
            end_it(ended_by::call_limit, settings_.hang_limit_seconds);
        else if (now - started_ > check_limit_seconds)
            end_it(ended_by::check_limit, check_limit_seconds);
        else
            return false;
    }
    ended_ = true;
    seconds_ = now_seconds() - started_;
    DWORD exit_code = 0;
    GetExitCodeProcess(process_, &exit_code);
    ending_.started = block.started != 0;
    ending_.call = static_cast<plugin_call>(block.call);
    ending_.frame = static_cast<std::uint64_t>(block.frame);
    ending_.exit_code = exit_code;
    ending_.process_id = process_id_;
    ending_.fault = parse_result(text_of(block.fault, block.fault_length));
    if (block.exit_code_expected) ending_.expected_exit_code = static_cast<std::uint32_t>(block.expected_exit_code);
    if (block.slowest_call_ms > 0) {
        ending_.slowest_call = static_cast<plugin_call>(block.slowest_call);
        ending_.slowest_call_seconds = block.slowest_call_ms / 1000.0;
    }
    return true;
}

std::vector<check_result> child_check::results() const
{
    std::vector<std::pair<std::string, check_result>> reported;
    if (channel_.ok()) reported = parse_results(text_of(channel_.block().result, channel_.block().result_length));
    std::vector<check_result> results;
    for (const check_info* check : run_) {
        child_ending ending = ending_;
        // The check's own result; a body that stopped early (the plug-in did
        // not load) reports for the whole run.
        for (const auto& [name, result] : reported)
            if (name == check->name) ending.reported = result;
        if (!ending.reported && !reported.empty()) ending.reported = reported.front().second;
        results.push_back(error_ ? *error_ : judge_child(ending));
        results.back().seconds = seconds_;
    }
    return results;
}

}  // namespace validate
