#include "tools/validate/win32/check_runner.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>

#include "tools/common/file_system.h"
#include "tools/common/scratch_folder.h"
#include "tools/common/system_error.h"
#include "tools/common/win32/wide_text.h"
#include "tools/validate/check_schedule.h"
#include "tools/validate/memory_plan.h"
#include "tools/validate/memory_reserve.h"
#include "tools/validate/report.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/child_process.h"
#include "tools/validate/win32/frame_names.h"
#include "tools/validate/win32/plugin_under_test.h"

namespace validate {

namespace {

// Checks side by side: most of a check's time is waiting (paced frames,
// pauses after Shutdown), so three times the processors, from 2 to 6.
std::size_t lanes()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return std::clamp<std::size_t>(3 * static_cast<std::size_t>(info.dwNumberOfProcessors), 2, 6);
}

// The machine's free memory now; 0 when unknown.
std::uint64_t free_memory()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullAvailPhys : 0;
}

// A check that only reads the file runs here: no code of the plug-in runs.
check_result run_here(const validate_options& options, const check_info& check)
{
    const double start = now_seconds();
    check_result result;
    try {
        result = check_body(check)(check_context{options, options.seed.value_or(0), &check, nullptr});
    } catch (const std::exception& exception) {
        result =
            validator_error(std::string("validate: the check stopped on an error of its own: ") + exception.what());
    }
    result.seconds = now_seconds() - start;
    return result;
}

// Removes a run's working folder, or keeps it when a check failed and the
// plug-in left something in it, saying so in the failed checks' results.
void tidy_folder(const std::string& folder, std::vector<check_result>& results)
{
    bool failed = false;
    for (const check_result& result : results) failed = failed || result.result == outcome::failed;
    std::string note;
    std::error_code ec;
    if (failed && !std::filesystem::is_empty(std::filesystem::u8path(folder), ec) && !ec)
        note = "the plug-in's working folder is kept: " + folder;
    else if (!tools::remove_folder_tree(folder))
        note = "the plug-in's working folder could not be removed: " + folder;
    if (note.empty()) return;
    for (check_result& result : results)
        if (result.result == outcome::failed || !failed) result.notes.push_back(note);
}

// The working folders that checks run the plug-in in, so that whatever files
// a plug-in writes to its current directory land there and never the user's:
// one for the run in the system's temporary folder, made at the first need,
// and one inside it for each run of checks; the run's goes at the end unless
// a kept one is in it.
class check_folders {
public:
    check_folders() = default;
    ~check_folders()
    {
        std::string ignored;
        if (!run_.path().empty() && run_.empty()) run_.leave(true, ignored);
    }
    check_folders(const check_folders&) = delete;
    check_folders& operator=(const check_folders&) = delete;

    // A new empty folder for the check of this name; empty on failure, with
    // the reason in `error`.
    std::string make(const std::string& check, std::string& error)
    {
        if (run_.path().empty() && !run_.make("validate", error)) return {};
        std::string folder = run_.path() + "\\" + check;
        if (!CreateDirectoryW(tools::wide_text(folder).c_str(), nullptr)) {
            error = "cannot make the working folder " + folder + ": " +
                    tools::system_error_text(static_cast<int>(GetLastError()));
            return {};
        }
        return folder;
    }

private:
    tools::scratch_folder run_;
};

}  // namespace

std::vector<check_result> run_checks_in_children(const validate_options& options, std::FILE* table)
{
    const std::vector<const check_info*>& checks = options.checks;
    const auto position = [&](const check_info* check) {
        return static_cast<std::size_t>(std::find(checks.begin(), checks.end(), check) - checks.begin());
    };
    std::vector<std::optional<check_result>> results(checks.size());
    const std::uint64_t free_at_start = free_memory();
    // Unknown free memory plans as the largest machine would: the checks'
    // own limits still hold.
    const memory_plan memory = plan_memory(free_at_start != 0 ? free_at_start : UINT64_MAX / 2, lanes());
    check_schedule schedule(checks, memory.lanes);
    check_folders folders;
    std::vector<std::unique_ptr<child_check>> running;
    std::vector<std::string> running_folders;
    std::size_t written = 0;
    const double deadline = now_seconds() + run_limit_seconds;

    const auto record = [&](const check_info* check, check_result result) {
        results[position(check)] = std::move(result);
        while (written < checks.size() && results[written]) {
            write_table_line(table, *checks[written], *results[written]);
            ++written;
        }
    };
    const auto record_run = [&](const std::vector<const check_info*>& run, std::vector<check_result> run_results) {
        schedule.finished(run, run_results);
        for (std::size_t i = 0; i < run.size(); ++i) record(run[i], std::move(run_results[i]));
    };
    while (!schedule.done()) {
        if (now_seconds() >= deadline) {
            schedule.give_up("the run reached its limit of " + seconds_text(run_limit_seconds));
        }
        if (memory_reserve::given_back()) {
            schedule.give_up("the validator ran short of memory itself (the machine has " +
                             std::to_string(free_memory() / mebibyte) + " MiB free)");
        }
        // A machine short of memory runs one check at a time.
        while (room_for_another(free_memory(), schedule.running(), memory)) {
            const std::vector<const check_info*> run = schedule.next();
            if (run.empty()) break;
            if (run.front()->needs == file_only) {
                std::vector<check_result> run_results;
                run_results.reserve(run.size());
                for (const check_info* check : run) run_results.push_back(run_here(options, *check));
                record_run(run, std::move(run_results));
                continue;
            }
            child_settings settings;
            settings.hang_limit_seconds = options.hang_limit_seconds;
            settings.leave_loaded = schedule.unload_fails();
            settings.run_limit_seconds = run_limit_seconds;
            settings.memory_limit = memory.child_limit;
            std::string error;
            settings.folder = folders.make(std::string(run.front()->name), error);
            if (settings.folder.empty()) {
                record_run(run, std::vector<check_result>(run.size(), validator_error("validate: " + error)));
                continue;
            }
            running.push_back(std::make_unique<child_check>(options, run, settings));
            running_folders.push_back(settings.folder);
        }
        std::vector<HANDLE> processes;
        for (const auto& child : running)
            if (child->process() != nullptr) processes.push_back(child->process());
        if (!processes.empty())
            WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), FALSE, 50);
        const double now = now_seconds();
        for (std::size_t i = 0; i < running.size();) {
            child_check& child = *running[i];
            if (child.load_and_unload_seen()) schedule.load_and_unload_seen();
            if (!child.poll(now, deadline)) {
                ++i;
                continue;
            }
            std::vector<check_result> run_results = child.results();
            name_fault_frames(options.plugin_path, run_results, deadline - now_seconds());
            tidy_folder(running_folders[i], run_results);
            record_run(child.run(), std::move(run_results));
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            running_folders.erase(running_folders.begin() + static_cast<std::ptrdiff_t>(i));
        }
        for (auto& [check, result] : schedule.take_not_run()) record(check, std::move(result));
    }
    std::vector<check_result> ordered;
    ordered.reserve(results.size());
    for (std::optional<check_result>& result : results) ordered.push_back(std::move(*result));
    return ordered;
}

}  // namespace validate
