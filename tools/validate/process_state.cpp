#include "tools/validate/process_state.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace validate {

const char* const signal_names[6] = {"SIGABRT", "SIGINT", "SIGTERM", "SIGFPE", "SIGSEGV", "SIGILL"};

namespace {

std::string hex(std::uint64_t value, int digits = 0)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

const char* const rounding[] = {"to nearest", "down", "up", "toward zero"};

// The names of the exception bits in a mask, from bit 0: invalid, denormal,
// divide by zero, overflow, underflow, precision; "all" or "none" for those.
std::string masked(unsigned mask)
{
    static const char* const names[] = {"invalid", "denormal", "divide-by-zero", "overflow", "underflow", "precision"};
    if ((mask & 0x3F) == 0x3F) return "all";
    std::string text;
    for (int bit = 0; bit < 6; ++bit)
        if (mask & (1u << bit)) text += (text.empty() ? "" : " ") + std::string(names[bit]);
    return text.empty() ? "none" : text;
}

std::string quoted(const std::string& text)
{
    return text.empty() ? "(none)" : "\"" + text + "\"";
}

const char* apartment_name(com_apartment apartment)
{
    switch (apartment) {
        case com_apartment::none: return "none";
        case com_apartment::single_threaded: return "single-threaded";
        case com_apartment::multithreaded: return "multithreaded";
        case com_apartment::neutral: return "neutral";
        case com_apartment::main_single_threaded: return "the main single-threaded one";
    }
    return "none";
}

// Names of environment variables, whose letter case Windows ignores.
struct name_order {
    bool operator()(const std::string& a, const std::string& b) const noexcept
    {
        const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [&](char x, char y) { return lower(x) < lower(y); });
    }
};
using variable_map = std::map<std::string, std::string, name_order>;

// The environment's variables by name.
variable_map variables(const std::string& environment)
{
    variable_map found;
    for (std::size_t at = 0; at < environment.size();) {
        const std::size_t end = std::min(environment.find('\0', at), environment.size());
        const std::string entry = environment.substr(at, end - at);
        const std::size_t equals = entry.find('=', 1);
        if (equals != std::string::npos) found.emplace(entry.substr(0, equals), entry.substr(equals + 1));
        at = end + 1;
    }
    return found;
}

// A variable's value as a report shows it, cut when it is long (a PATH).
std::string shown_value(const std::string& value)
{
    constexpr std::size_t longest = 160;
    return "\"" + (value.size() <= longest ? value : value.substr(0, longest) + "...") + "\"";
}

}  // namespace

std::string describe_mxcsr(std::uint32_t mxcsr)
{
    std::string text = "round " + std::string(rounding[(mxcsr >> 13) & 3]);
    if (mxcsr & 0x8000) text += ", flush-to-zero";
    if (mxcsr & 0x0040) text += ", denormals-are-zero";
    return text + ", exceptions masked: " + masked(mxcsr >> 7);
}

std::string describe_x87_control(std::uint16_t control)
{
    static const char* const precision[] = {"24-bit", "(reserved)", "53-bit", "64-bit"};
    return std::string(precision[(control >> 8) & 3]) + " precision, round " + rounding[(control >> 10) & 3] +
           ", exceptions masked: " + masked(control);
}

std::vector<state_change> state_changes(const process_state& before, const process_state& after,
                                        const process_state& host)
{
    std::vector<state_change> changes;
    const auto add = [&](state_scope scope, std::string what) { changes.push_back({scope, std::move(what)}); };
    if (before.mxcsr != after.mxcsr) {
        add(state_scope::host_thread, "MXCSR " + hex(before.mxcsr, 4) + " became " + hex(after.mxcsr, 4) + " (" +
                                          describe_mxcsr(after.mxcsr) + ")");
    }
    if (before.x87_control != after.x87_control) {
        add(state_scope::host_thread, "the x87 control word " + hex(before.x87_control, 4) + " became " +
                                          hex(after.x87_control, 4) + " (" + describe_x87_control(after.x87_control) +
                                          ")");
    }
    if (before.thread_locale != after.thread_locale) {
        add(state_scope::host_thread,
            "the host thread's locale " + hex(before.thread_locale, 4) + " became " + hex(after.thread_locale, 4));
    }
    if (before.thread_priority != after.thread_priority) {
        add(state_scope::host_thread, "the host thread's priority " + std::to_string(before.thread_priority) +
                                          " became " + std::to_string(after.thread_priority));
    }
    if (before.thread_error_mode != after.thread_error_mode) {
        add(state_scope::host_thread, "the host thread's error mode " + hex(before.thread_error_mode) + " became " +
                                          hex(after.thread_error_mode));
    }
    if (before.apartment != after.apartment) {
        add(state_scope::host_thread, std::string("the host thread's COM apartment ") +
                                          apartment_name(before.apartment) + " became " +
                                          apartment_name(after.apartment) +
                                          (after.apartment != com_apartment::none
                                               ? " (CoInitializeEx on the host's thread without CoUninitialize)"
                                               : ""));
    }
    if (before.current_directory != after.current_directory) {
        add(state_scope::process,
            "the current directory " + quoted(before.current_directory) + " became " + quoted(after.current_directory));
    }
    if (before.exception_filter != after.exception_filter) {
        add(state_scope::process, "the unhandled-exception filter " + hex(before.exception_filter) + " became " +
                                      hex(after.exception_filter));
    }
    if (before.error_mode != after.error_mode) {
        add(state_scope::process, "the error mode " + hex(before.error_mode) + " became " + hex(after.error_mode));
    }
    if (before.dll_directory != after.dll_directory) {
        add(state_scope::process,
            "the DLL directory " + quoted(before.dll_directory) + " became " + quoted(after.dll_directory));
    }
    if (before.crt_locale != after.crt_locale) {
        add(state_scope::process,
            "the C runtime's locale " + quoted(before.crt_locale) + " became " + quoted(after.crt_locale));
    }
    if (before.priority_class != after.priority_class) {
        add(state_scope::process,
            "the priority class " + hex(before.priority_class) + " became " + hex(after.priority_class));
    }
    static const char* const handle_names[] = {"input", "output", "error"};
    for (std::size_t i = 0; i < before.standard_handles.size(); ++i) {
        if (before.standard_handles[i] != after.standard_handles[i]) {
            add(state_scope::process, std::string("the standard ") + handle_names[i] + " handle " +
                                          hex(before.standard_handles[i]) + " became " +
                                          hex(after.standard_handles[i]));
        }
    }
    for (std::size_t i = 0; i < before.signal_handlers.size(); ++i) {
        if (before.signal_handlers[i] != after.signal_handlers[i]) {
            add(state_scope::process, std::string("the C runtime's ") + signal_names[i] + " handler " +
                                          hex(before.signal_handlers[i]) + " became " + hex(after.signal_handlers[i]));
        }
    }
    if (before.environment != after.environment) {
        const variable_map hosts = variables(host.environment);
        const variable_map had = variables(before.environment);
        const variable_map has = variables(after.environment);
        for (const auto& [name, value] : had) {
            if (hosts.count(name) == 0) continue;
            const auto now = has.find(name);
            if (now == has.end())
                add(state_scope::process, "the environment variable " + name + " was removed");
            else if (now->second != value)
                add(state_scope::process, "the environment variable " + name + " " + shown_value(value) + " became " +
                                              shown_value(now->second));
        }
    }
    return changes;
}

std::vector<std::string> environment_added(const process_state& before, const process_state& after)
{
    std::vector<std::string> added;
    if (before.environment == after.environment) return added;
    const variable_map had = variables(before.environment);
    for (const auto& [name, value] : variables(after.environment)) {
        if (had.count(name) != 0) continue;
        std::string& variable = added.emplace_back(name);
        variable += '=';
        variable += value;
    }
    return added;
}

std::vector<std::string> pointers_into(const process_state& state, std::uintptr_t first, std::uintptr_t end)
{
    const auto inside = [&](std::uintptr_t address) { return address >= first && address < end; };
    std::vector<std::string> found;
    if (inside(state.exception_filter)) found.emplace_back("the unhandled-exception filter");
    for (std::size_t i = 0; i < state.signal_handlers.size(); ++i)
        if (inside(state.signal_handlers[i]))
            found.push_back(std::string("the C runtime's ") + signal_names[i] + " handler");
    return found;
}

}  // namespace validate
