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
        case outcome::skipped: return "skipped";
        case outcome::error: return "error";
    }
    return "failed";
}

namespace {

// Room for the closing "cut N" line.
constexpr std::size_t closing_room = 32;

}  // namespace

result_writer::result_writer(char* buffer, std::size_t capacity) noexcept
    : buffer_(buffer), usable_(capacity > closing_room ? capacity - closing_room : 0), capacity_(capacity)
{
}

void result_writer::put(char c) noexcept
{
    if (size_ < usable_)
        buffer_[size_++] = c;
    else
        overflowed_ = true;
}

result_writer& result_writer::begin(std::string_view key) noexcept
{
    line_start_ = size_;
    overflowed_ = false;
    for (char c : key) put(c);
    put(' ');
    return *this;
}

result_writer& result_writer::text(std::string_view piece) noexcept
{
    for (char c : piece) {
        if (c == '\\' || c == '\n' || c == '\r') {
            put('\\');
            put(c == '\n' ? 'n' : c == '\r' ? 'r' : '\\');
        } else {
            put(c);
        }
    }
    return *this;
}

result_writer& result_writer::number(std::uint64_t value) noexcept
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

result_writer& result_writer::hex(std::uint64_t value) noexcept
{
    char digits[24] = "0x";
    const auto end = std::to_chars(digits + 2, digits + sizeof digits, value, 16).ptr;
    return text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

result_writer& result_writer::decimal(double value) noexcept
{
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return text(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

result_writer& result_writer::end() noexcept
{
    put('\n');
    if (overflowed_) {
        size_ = line_start_;
        ++left_out_;
    }
    overflowed_ = false;
    line_start_ = size_;
    return *this;
}

result_writer& result_writer::line(std::string_view key, std::string_view value) noexcept
{
    return begin(key).text(value).end();
}

std::string_view result_writer::finish() noexcept
{
    if (left_out_ > 0 && capacity_ >= closing_room) {
        usable_ = capacity_;
        begin("cut").number(left_out_).end();
    }
    return std::string_view(buffer_, size_);
}

void write_check_result(result_writer& out, const check_result& result) noexcept
{
    out.line("result", outcome_name(result.result));
    out.line("summary", result.summary);
    if (!result.kind.empty()) out.line("kind", result.kind);
    if (!result.call.empty()) out.line("call", result.call);
    if (result.frame != 0) out.begin("frame").number(result.frame).end();
    for (const auto& [name, value] : result.figures) out.begin("figure").text(name).text(" ").decimal(value).end();
    for (const std::string& note : result.notes) out.line("note", note);
}

namespace {

std::string unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::optional<check_result> parse_result(std::string_view text)
{
    check_result result;
    bool has_result = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const std::size_t space = entry.find(' ');
        if (space == std::string_view::npos) continue;
        const std::string_view key = entry.substr(0, space);
        const std::string value = unescape(entry.substr(space + 1));
        if (key == "result") {
            has_result = true;
            result.result = value == "passed"    ? outcome::passed
                            : value == "skipped" ? outcome::skipped
                            : value == "error"   ? outcome::error
                                                 : outcome::failed;
        } else if (key == "summary") {
            result.summary = value;
        } else if (key == "kind") {
            result.kind = value;
        } else if (key == "call") {
            result.call = value;
        } else if (key == "frame") {
            result.frame = std::strtoull(value.c_str(), nullptr, 10);
        } else if (key == "figure") {
            const std::size_t gap = value.rfind(' ');
            if (gap != std::string::npos)
                result.figures.emplace_back(value.substr(0, gap), std::strtod(value.c_str() + gap + 1, nullptr));
        } else if (key == "note") {
            result.notes.push_back(value);
        } else if (key == "cut") {
            result.notes.push_back("the result was larger than the channel from the check's process holds: " + value +
                                   " of its lines (figures or notes) were left out");
        }
    }
    if (!has_result) return std::nullopt;
    return result;
}

std::vector<std::pair<std::string, check_result>> parse_results(std::string_view text)
{
    std::vector<std::pair<std::string, check_result>> results;
    std::string name;
    const auto add = [&](std::string_view section) {
        if (std::optional<check_result> result = parse_result(section)) results.emplace_back(name, std::move(*result));
    };
    std::size_t section = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, 6, "check ") == 0) {
            add(text.substr(section, at - section));
            name = std::string(text.substr(at + 6, end - at - 6));
            section = end + 1;
        }
        at = end + 1;
    }
    if (section < text.size()) add(text.substr(section));
    return results;
}

}  // namespace validate
