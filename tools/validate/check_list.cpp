#include "tools/validate/check_list.h"

#include <algorithm>

namespace validate {

const std::vector<check_info>& all_checks()
{
    static const std::vector<check_info> checks = {
        {"file.pe_format", "a PE32+ DLL for x64"},
        {"file.exports", "the four entry points, exported under their undecorated names"},
        {"file.imports", "imports only from DLLs that every Windows has, no C or C++ runtime DLL"},
        {"file.load", "loads, unloads, and leaves the process"},
        {"file.interface_version", "the version, read as 64 bits, is 2 before Init, while running and after Shutdown"},
        {"lifecycle.usual_order", "Init, a second of frames, Shutdown, FreeLibrary; the process stays healthy"},
        {"lifecycle.shutdown_without_init", "Shutdown on a library that was never started"},
        {"lifecycle.init_twice", "Init while running, then one Shutdown"},
        {"lifecycle.shutdown_twice", "a second Shutdown after the first"},
        {"lifecycle.update_before_init", "frames before the first Init"},
        {"lifecycle.update_after_shutdown", "frames after Shutdown"},
        {"lifecycle.shutdown_at_once", "Shutdown at once after Init, before the plug-in has settled"},
        {"lifecycle.init_shutdown_cycles", "many Init and Shutdown pairs, some at once, some with frames"},
        {"lifecycle.unload_without_shutdown", "FreeLibrary while running: the process stays alive and healthy"},
        {"lifecycle.exit_without_shutdown", "the host exits while the plug-in runs: its exit code is kept"},
        {"lifecycle.reload", "unload after Shutdown, load again and run again"},
        {"timing.init", "Init returns within the limit"},
        {"timing.shutdown", "Shutdown returns within the limit"},
        {"timing.update", "Update's time over paced frames: median, p99, p99.9, maximum against the budget"},
        {"stream.data_types", "frames with every data type, full and short values; the two outputs"},
        {"stream.unknown_identifiers", "unknown identifiers, data types 8 to 255, known names with other types"},
        {"stream.sizes", "Size 0, 63, 64, 65, 128, 129 and 65535 inside a buffer that holds them"},
        {"stream.empty", "count 0 with a null stream and with a stream of no bytes"},
        {"stream.special_values", "NaN, infinities, extremes and denormals in every number"},
        {"stream.large_frames", "frames of 10,000 messages, between small ones"},
        {"stream.random", "seeded random frames (--seed replays them)"},
        {"resources.threads_after_shutdown", "no thread of the plug-in still runs after Shutdown"},
        {"resources.windows_after_shutdown", "no window of the plug-in is left after Shutdown"},
        {"resources.handles_per_frame", "handles, sockets included, do not grow with frames"},
        {"resources.handles_per_cycle", "handles do not grow with Init and Shutdown cycles"},
        {"resources.memory_per_frame", "committed memory does not grow with frames"},
        {"resources.memory_per_cycle", "committed memory does not grow with Init and Shutdown cycles"},
    };
    return checks;
}

std::string_view group_of(std::string_view name) noexcept
{
    return name.substr(0, name.find('.'));
}

const check_info* find_check(std::string_view name) noexcept
{
    for (const check_info& check : all_checks())
        if (check.name == name) return &check;
    return nullptr;
}

namespace {

// Marks in `chosen` the checks that the comma-separated `list` names.
bool mark(std::string_view list, std::vector<bool>& chosen, const char* option, std::string& error)
{
    const std::vector<check_info>& checks = all_checks();
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        bool found = false;
        for (std::size_t i = 0; i < checks.size(); ++i) {
            if (checks[i].name == item || group_of(checks[i].name) == item) {
                chosen[i] = true;
                found = true;
            }
        }
        if (!found) {
            error = std::string(option) + ": no check or group named \"" + std::string(item) + "\" (--list shows them)";
            return false;
        }
    }
    return true;
}

}  // namespace

bool select_checks(std::string_view only, std::string_view skip, std::vector<const check_info*>& selected,
                   std::string& error)
{
    const std::vector<check_info>& checks = all_checks();
    std::vector<bool> included(checks.size(), only.empty());
    std::vector<bool> excluded(checks.size(), false);
    if (!mark(only, included, "--only", error) || !mark(skip, excluded, "--skip", error)) return false;
    selected.clear();
    for (std::size_t i = 0; i < checks.size(); ++i)
        if (included[i] && !excluded[i]) selected.push_back(&checks[i]);
    if (selected.empty()) {
        error = "--only and --skip leave no check to run";
        return false;
    }
    return true;
}

}  // namespace validate
