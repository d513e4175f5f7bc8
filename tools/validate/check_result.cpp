#include "tools/validate/check_result.h"

#include <cstdio>
#include <cstdlib>

namespace validate {

std::string_view outcome_name(outcome result) noexcept
{
    switch (result) {
        case outcome::passed: return "passed";
        case outcome::failed: return "failed";
        case outcome::skipped: return "skipped";
    }
    return "failed";
}

namespace {

// A value on one line: backslashes and line breaks escaped.
std::string escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

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

void line(std::string& out, std::string_view key, std::string_view value)
{
    out.append(key).append(" ").append(escape(value)).append("\n");
}

}  // namespace

std::string serialize(const check_result& result)
{
    std::string out;
    line(out, "result", outcome_name(result.result));
    line(out, "summary", result.summary);
    if (!result.kind.empty()) line(out, "kind", result.kind);
    if (!result.call.empty()) line(out, "call", result.call);
    if (result.frame != 0) line(out, "frame", std::to_string(result.frame));
    for (const auto& [name, value] : result.figures) {
        char number[64];
        std::snprintf(number, sizeof number, "%.17g", value);
        line(out, "figure", name + " " + number);
    }
    for (const std::string& note : result.notes) line(out, "note", note);
    return out;
}

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
        }
    }
    if (!has_result) return std::nullopt;
    return result;
}

}  // namespace validate
