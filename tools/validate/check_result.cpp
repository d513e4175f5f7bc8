#include "tools/validate/check_result.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace validate {

std::string_view outcome_name(outcome result) noexcept
{
    switch (result) {
        case outcome::passed: return "passed";
        case outcome::failed: return "failed";
        case outcome::skipped:
        case outcome::not_run: return "skipped";
        case outcome::error: return "error";
    }
    return "failed";
}

std::string_view kind_name(fault_kind kind) noexcept
{
    switch (kind) {
        case fault_kind::none: return "";
        case fault_kind::expectation: return "expectation";
        case fault_kind::crash: return "crash";
        case fault_kind::stack_overflow: return "stack_overflow";
        case fault_kind::cpp_exception: return "cpp_exception";
        case fault_kind::abort_called: return "abort";
        case fault_kind::process_ended: return "process_ended";
        case fault_kind::hang: return "hang";
        case fault_kind::read_past_stream: return "read_past_stream";
        case fault_kind::wrote_into_stream: return "wrote_into_stream";
        case fault_kind::kept_stream: return "kept_stream";
        case fault_kind::state_changed: return "state_changed";
        case fault_kind::dangling: return "dangling";
        case fault_kind::exit_code: return "exit_code";
        case fault_kind::not_loadable: return "not_loadable";
        case fault_kind::too_slow: return "too_slow";
        case fault_kind::left_behind: return "left_behind";
        case fault_kind::growth: return "growth";
        case fault_kind::memory_limit: return "memory_limit";
        case fault_kind::output_not_zero: return "output_not_zero";
        case fault_kind::wrote_past_output: return "wrote_past_output";
    }
    return "";
}

std::string_view call_name(plugin_call call) noexcept
{
    switch (call) {
        case plugin_call::none: return "";
        case plugin_call::load_library: return "LoadLibrary";
        case plugin_call::get_interface_version: return "GetInterfaceVersion";
        case plugin_call::init: return "Init";
        case plugin_call::update: return "Update";
        case plugin_call::shutdown: return "Shutdown";
        case plugin_call::free_library: return "FreeLibrary";
        case plugin_call::after_free_library: return "the wait after FreeLibrary";
        case plugin_call::process_exit: return "process exit";
    }
    return "";
}

std::string_view warning_name(warning_kind kind) noexcept
{
    switch (kind) {
        case warning_kind::environment_added: return "environment_added";
        case warning_kind::blocking_call: return "blocking_call";
    }
    return "";
}

check_result passed(std::string summary)
{
    check_result result;
    result.result = outcome::passed;
    result.summary = std::move(summary);
    return result;
}

check_result failed(fault_kind kind, std::string summary, plugin_call call, std::uint64_t frame)
{
    check_result result;
    result.result = outcome::failed;
    result.kind = kind;
    result.summary = std::move(summary);
    result.call = call;
    result.frame = frame;
    return result;
}

check_result skipped(std::string reason)
{
    check_result result;
    result.result = outcome::skipped;
    result.summary = std::move(reason);
    return result;
}

check_result not_run(std::string reason)
{
    check_result result;
    result.result = outcome::not_run;
    result.summary = std::move(reason);
    return result;
}

check_result validator_error(std::string summary)
{
    check_result result;
    result.result = outcome::error;
    result.summary = std::move(summary);
    return result;
}

// ---- The channel's lines ----

namespace {

// The keys of the lines, each said once: the writer and the parser use these.
namespace key {
constexpr std::string_view check = "check";
constexpr std::string_view outcome = "result";
constexpr std::string_view summary = "summary";
constexpr std::string_view kind = "kind";
constexpr std::string_view call = "call";
constexpr std::string_view frame = "frame";
constexpr std::string_view where = "where";  // a fault frame: module, offset, function, file, line
constexpr std::string_view figure = "figure";
constexpr std::string_view note = "note";
constexpr std::string_view warning = "warning";  // kind, count, detail
constexpr std::string_view cut = "cut";  // how many lines were left out
}  // namespace key

// Fields of one line are separated by a tab, which the writer escapes
// inside a field.
constexpr char field_separator = '\t';

// Room for the closing "cut N" line.
constexpr std::size_t closing_room = 32;

}  // namespace

result_writer::result_writer(char* buffer, std::size_t capacity) noexcept
    : buffer_(buffer), usable_(capacity > closing_room ? capacity - closing_room : 0), capacity_(capacity)
{
}

void result_writer::put_char(char c) noexcept
{
    if (size_ < usable_)
        buffer_[size_++] = c;
    else
        overflowed_ = true;
}

void result_writer::raw(std::string_view piece) noexcept
{
    for (char c : piece) put_char(c);
}

result_writer& result_writer::begin(std::string_view line_key) noexcept
{
    line_start_ = size_;
    overflowed_ = false;
    raw(line_key);
    put_char(' ');
    return *this;
}

result_writer& result_writer::text(std::string_view piece) noexcept
{
    for (char c : piece) {
        switch (c) {
            case '\\': raw("\\\\"); break;
            case '\n': raw("\\n"); break;
            case '\r': raw("\\r"); break;
            case '\t': raw("\\t"); break;
            default: put_char(c);
        }
    }
    return *this;
}

result_writer& result_writer::number(std::uint64_t value) noexcept
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    raw(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    return *this;
}

result_writer& result_writer::hex(std::uint64_t value) noexcept
{
    char digits[24] = "0x";
    const auto end = std::to_chars(digits + 2, digits + sizeof digits, value, 16).ptr;
    raw(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    return *this;
}

result_writer& result_writer::decimal(double value) noexcept
{
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    raw(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    return *this;
}

result_writer& result_writer::end() noexcept
{
    put_char('\n');
    if (overflowed_) {
        size_ = line_start_;
        ++left_out_;
    }
    overflowed_ = false;
    line_start_ = size_;
    return *this;
}

result_writer& result_writer::check(std::string_view name) noexcept
{
    return begin(key::check).text(name).end();
}

result_writer& result_writer::put(outcome result) noexcept
{
    return begin(key::outcome).number(static_cast<std::uint64_t>(result)).end();
}

result_writer& result_writer::put(fault_kind kind) noexcept
{
    return begin(key::kind).number(static_cast<std::uint64_t>(kind)).end();
}

result_writer& result_writer::put(plugin_call call) noexcept
{
    return begin(key::call).number(static_cast<std::uint64_t>(call)).end();
}

result_writer& result_writer::frame_number(std::uint64_t frame) noexcept
{
    return begin(key::frame).number(frame).end();
}

result_writer& result_writer::begin_summary() noexcept
{
    return begin(key::summary);
}

result_writer& result_writer::begin_note() noexcept
{
    return begin(key::note);
}

result_writer& result_writer::summary(std::string_view text) noexcept
{
    return begin_summary().text(text).end();
}

result_writer& result_writer::note(std::string_view text) noexcept
{
    return begin_note().text(text).end();
}

result_writer& result_writer::figure(std::string_view name, double value) noexcept
{
    begin(key::figure).text(name);
    put_char(field_separator);
    return decimal(value).end();
}

result_writer& result_writer::fault_frame_line(std::string_view module, std::uint64_t offset, std::string_view function,
                                               std::string_view file, std::uint32_t line, bool return_address) noexcept
{
    begin(key::where).text(module);
    put_char(field_separator);
    hex(offset);
    put_char(field_separator);
    text(function);
    put_char(field_separator);
    text(file);
    put_char(field_separator);
    number(line);
    put_char(field_separator);
    return number(return_address ? 1 : 0).end();
}

result_writer& result_writer::warning(warning_kind kind, std::uint64_t count, std::string_view detail) noexcept
{
    begin(key::warning).number(static_cast<std::uint64_t>(kind));
    put_char(field_separator);
    number(count);
    put_char(field_separator);
    return text(detail).end();
}

std::string_view result_writer::finish() noexcept
{
    if (left_out_ > 0 && capacity_ >= closing_room) {
        usable_ = capacity_;
        begin(key::cut).number(left_out_).end();
    }
    return std::string_view(buffer_, size_);
}

void write_check_result(result_writer& out, const check_result& result) noexcept
{
    out.put(result.result);
    out.summary(result.summary);
    if (result.kind != fault_kind::none) out.put(result.kind);
    if (result.call != plugin_call::none) out.put(result.call);
    if (result.frame != 0) out.frame_number(result.frame);
    for (const fault_frame& frame : result.frames)
        out.fault_frame_line(frame.module, frame.offset, frame.function, frame.file, frame.line, frame.return_address);
    for (const auto& [name, value] : result.figures) out.figure(name, value);
    for (const std::string& note : result.notes) out.note(note);
    for (const check_warning& warning : result.warnings) out.warning(warning.kind, warning.count, warning.detail);
}

namespace {

std::string unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The line's value split at its field separators, each field unescaped.
std::vector<std::string> fields(std::string_view value)
{
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t tab = value.find(field_separator);
        parts.push_back(unescape(value.substr(0, tab)));
        if (tab == std::string_view::npos) return parts;
        value = value.substr(tab + 1);
    }
}

std::uint64_t field_number(std::string_view text, int base = 10)
{
    std::uint64_t value = 0;
    if (base == 16 && text.substr(0, 2) == "0x") text.remove_prefix(2);
    std::from_chars(text.data(), text.data() + text.size(), value, base);
    return value;
}

// An enum from its number, when it is one of its values up to `last`.
template <class Enum>
std::optional<Enum> enum_value(std::string_view text, Enum last)
{
    const std::uint64_t value = field_number(text);
    if (value > static_cast<std::uint64_t>(last)) return std::nullopt;
    return static_cast<Enum>(value);
}

}  // namespace

std::optional<check_result> parse_result(std::string_view text)
{
    check_result result;
    bool has_outcome = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const std::size_t space = entry.find(' ');
        if (space == std::string_view::npos) continue;
        const std::string_view line_key = entry.substr(0, space);
        const std::string_view value = entry.substr(space + 1);
        if (line_key == key::outcome) {
            const std::optional<outcome> read = enum_value(value, outcome::error);
            has_outcome = read.has_value();
            result.result = read.value_or(outcome::failed);
        } else if (line_key == key::summary) {
            result.summary = unescape(value);
        } else if (line_key == key::kind) {
            result.kind = enum_value(value, fault_kind::wrote_past_output).value_or(fault_kind::none);
        } else if (line_key == key::call) {
            result.call = enum_value(value, plugin_call::process_exit).value_or(plugin_call::none);
        } else if (line_key == key::frame) {
            result.frame = field_number(value);
        } else if (line_key == key::where) {
            const std::vector<std::string> parts = fields(value);
            if (parts.size() < 5) continue;
            result.frames.push_back(fault_frame{parts[0], field_number(parts[1], 16), parts[2], parts[3],
                                                static_cast<std::uint32_t>(field_number(parts[4])),
                                                parts.size() > 5 && parts[5] == "1"});
        } else if (line_key == key::figure) {
            const std::vector<std::string> parts = fields(value);
            if (parts.size() == 2) result.figures.emplace_back(parts[0], std::strtod(parts[1].c_str(), nullptr));
        } else if (line_key == key::note) {
            result.notes.push_back(unescape(value));
        } else if (line_key == key::warning) {
            const std::vector<std::string> parts = fields(value);
            const std::optional<warning_kind> kind =
                parts.size() == 3 ? enum_value(parts[0], warning_kind::blocking_call) : std::nullopt;
            if (kind) result.warnings.push_back(check_warning{*kind, field_number(parts[1]), parts[2]});
        } else if (line_key == key::cut) {
            result.notes.push_back("the result was larger than the channel from the check's process holds: " +
                                   std::string(value) + " of its lines (figures, notes or frames) were left out");
        }
    }
    if (!has_outcome) return std::nullopt;
    return result;
}

std::vector<std::pair<std::string, check_result>> parse_results(std::string_view text)
{
    std::vector<std::pair<std::string, check_result>> results;
    std::string name;
    const auto add = [&](std::string_view section) {
        if (std::optional<check_result> result = parse_result(section)) results.emplace_back(name, std::move(*result));
    };
    const std::string check_line = std::string(key::check) + ' ';
    std::size_t section = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, check_line.size(), check_line) == 0) {
            add(text.substr(section, at - section));
            name = unescape(text.substr(at + check_line.size(), end - at - check_line.size()));
            section = end + 1;
        }
        at = end + 1;
    }
    if (section < text.size()) add(text.substr(section));
    return results;
}

}  // namespace validate
