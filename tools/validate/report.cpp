#include "tools/validate/report.h"

#include <cmath>

namespace validate {

std::size_t run_report::count(outcome result) const noexcept
{
    std::size_t n = 0;
    for (const auto& entry : results) n += entry.second.result == result ? 1 : 0;
    return n;
}

std::size_t run_report::warnings() const noexcept
{
    std::size_t n = 0;
    for (const auto& entry : results) n += entry.second.warnings.size();
    return n;
}

namespace {

std::string number(double value, const char* format = "%.6g")
{
    if (!std::isfinite(value)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Where a failure happened: "in Update (frame 30)", "in Shutdown, after
// frame 60", "after frame 12".
std::string place(const check_result& result)
{
    const std::string frame = std::to_string(result.frame);
    if (result.call == plugin_call::none) return result.frame != 0 ? "after frame " + frame : "";
    std::string call = "in " + std::string(call_name(result.call));
    if (result.frame == 0) return call;
    return call + (result.call == plugin_call::update ? " (frame " + frame + ")" : ", after frame " + frame);
}

std::string hex_text(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// "p.dll+0x1a2b", with "(function, file:line)" when they are known.
std::string frame_text(const fault_frame& frame)
{
    std::string text = frame.module + "+" + hex_text(frame.offset);
    if (frame.function.empty() && frame.file.empty()) return text;
    text += " (" + frame.function;
    if (!frame.file.empty()) {
        text += (frame.function.empty() ? "" : ", ") + frame.file;
        if (frame.line != 0) text += ":" + std::to_string(frame.line);
    }
    return text + ")";
}

// "the plug-in's frames: p.dll+0x1a2b, p.dll+0x3c4d"; empty without frames.
std::string frames_text(const check_result& result)
{
    std::string text;
    for (const fault_frame& frame : result.frames) text += (text.empty() ? "" : ", ") + frame_text(frame);
    return text.empty() ? text : "the plug-in's frames: " + text;
}

// "WARNING environment_added: ... (3 times)".
std::string warning_text(const check_warning& warning)
{
    std::string text = "WARNING " + std::string(warning_name(warning.kind)) + ": " + warning.detail;
    if (warning.count > 1) text += " (" + std::to_string(warning.count) + " times)";
    return text;
}

// The kind as the reports give it: the fault's, or why a check has no
// verdict on the plug-in.
std::string_view kind_word(const check_result& result)
{
    switch (result.result) {
        case outcome::not_run: return "not_run";
        case outcome::error: return "validator";
        default: return kind_name(result.kind);
    }
}

std::string xml_escape(std::string_view raw)
{
    const std::string text = valid_utf8(raw);
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // XML 1.0 admits no control characters but tab and line breaks.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += '?';
                else
                    out += c;
        }
    }
    return out;
}

std::string json_string(std::string_view raw)
{
    const std::string text = valid_utf8(raw);
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// Everything a reader of a failure wants in one text: reason, place, figures, notes.
std::string details(const check_result& result)
{
    std::string text = result.summary;
    const std::string where = place(result);
    if (!where.empty()) text += "\n" + where;
    const std::string frames = frames_text(result);
    if (!frames.empty()) text += "\n" + frames;
    for (const auto& [name, value] : result.figures) text += "\n" + name + " = " + number(value);
    for (const std::string& note : result.notes) text += "\n" + note;
    for (const check_warning& warning : result.warnings) text += "\n" + warning_text(warning);
    return text;
}

}  // namespace

void write_table_heading(std::FILE* out)
{
    std::fprintf(out, "%-34s %-7s %s\n", "check", "result", "figure or reason");
}

void write_table_line(std::FILE* out, const check_info& check, const check_result& result)
{
    static const char* const words[] = {"pass", "FAIL", "skip", "skip", "ERROR"};
    std::fprintf(out, "%-34s %-7s %s\n", std::string(check.name).c_str(), words[static_cast<int>(result.result)],
                 result.summary.c_str());
    const auto below = [out](const std::string& text) { std::fprintf(out, "%-42s %s\n", "", text.c_str()); };
    const std::string where = place(result);
    if (result.result == outcome::failed && !where.empty()) below(where);
    const std::string frames = frames_text(result);
    if (!frames.empty()) below(frames);
    for (const std::string& note : result.notes) below(note);
    for (const check_warning& warning : result.warnings) below(warning_text(warning));
    std::fflush(out);
}

void write_summary_line(std::FILE* out, const run_report& report)
{
    std::fprintf(out, "\nvalidate: %zu passed, %zu failed, %zu skipped", report.count(outcome::passed),
                 report.count(outcome::failed), report.skipped());
    if (report.count(outcome::error) > 0)
        std::fprintf(out, ", %zu not run for the validator's own error", report.count(outcome::error));
    if (report.warnings() > 0)
        std::fprintf(out, ", %zu warning%s", report.warnings(), report.warnings() > 1 ? "s" : "");
    std::fprintf(out, " in %.1f s\n", report.seconds);
    std::fflush(out);
}

std::string junit_report(const run_report& report)
{
    const std::string totals = " tests=\"" + std::to_string(report.results.size()) + "\" failures=\"" +
                               std::to_string(report.count(outcome::failed)) + "\" errors=\"" +
                               std::to_string(report.count(outcome::error)) + "\" skipped=\"" +
                               std::to_string(report.skipped()) + "\" time=\"" + number(report.seconds, "%.3f") + "\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites name=\"validate\"" + totals + ">\n";
    xml += "  <testsuite name=\"validate " + xml_escape(report.plugin) + "\"" + totals + ">\n";
    xml += "    <properties>\n";
    xml += "      <property name=\"plugin\" value=\"" + xml_escape(report.plugin) + "\"/>\n";
    xml += "      <property name=\"seed\" value=\"" + std::to_string(report.seed) + "\"/>\n";
    xml += "      <property name=\"quick\" value=\"" + std::string(report.quick ? "true" : "false") + "\"/>\n";
    xml += "      <property name=\"budget_ms\" value=\"" + number(report.budget_ms) + "\"/>\n";
    xml += "      <property name=\"warnings\" value=\"" + std::to_string(report.warnings()) + "\"/>\n";
    if (!report.recording.empty()) {
        xml += "      <property name=\"recording\" value=\"" + xml_escape(report.recording) + "\"/>\n";
        xml +=
            "      <property name=\"recording_frames\" value=\"" + std::to_string(report.recording_frames) + "\"/>\n";
        xml += "      <property name=\"recording_used\" value=\"" + xml_escape(report.recording_used) + "\"/>\n";
    }
    xml += "    </properties>\n";
    for (const auto& [check, result] : report.results) {
        xml += "    <testcase classname=\"validate." + std::string(group_of(check->name)) + "\" name=\"" +
               std::string(check->name) + "\" time=\"" + number(result.seconds, "%.3f") + "\">\n";
        // A warning is a property of the test case, never a failure.
        if (!result.warnings.empty()) {
            xml += "      <properties>\n";
            for (const check_warning& warning : result.warnings)
                xml += "        <property name=\"warning\" value=\"" + xml_escape(warning_text(warning)) + "\"/>\n";
            xml += "      </properties>\n";
        }
        const std::string type = xml_escape(kind_word(result));
        if (result.result == outcome::failed) {
            xml += "      <failure message=\"" + xml_escape(result.summary) + "\" type=\"" + type + "\">" +
                   xml_escape(details(result)) + "</failure>\n";
        } else if (result.result == outcome::error) {
            xml += "      <error message=\"" + xml_escape(result.summary) + "\" type=\"" + type + "\">" +
                   xml_escape(details(result)) + "</error>\n";
        } else if (result.result == outcome::skipped || result.result == outcome::not_run) {
            xml += "      <skipped message=\"" + xml_escape(result.summary) + "\"/>\n";
        }
        xml += "      <system-out>" + xml_escape(details(result)) + "</system-out>\n";
        xml += "    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

std::string json_report(const run_report& report)
{
    std::string json = "{\n";
    json += "  \"plugin\": " + json_string(report.plugin) + ",\n";
    json += "  \"seed\": " + std::to_string(report.seed) + ",\n";
    json += "  \"quick\": " + std::string(report.quick ? "true" : "false") + ",\n";
    json += "  \"budget_ms\": " + number(report.budget_ms) + ",\n";
    json += "  \"seconds\": " + number(report.seconds, "%.3f") + ",\n";
    if (report.recording.empty()) {
        json += "  \"recording\": null,\n";
    } else {
        json += "  \"recording\": {\"path\": " + json_string(report.recording) +
                ", \"frames\": " + std::to_string(report.recording_frames) +
                ", \"used\": " + json_string(report.recording_used) + "},\n";
    }
    json += "  \"passed\": " + std::to_string(report.count(outcome::passed)) + ",\n";
    json += "  \"failed\": " + std::to_string(report.count(outcome::failed)) + ",\n";
    json += "  \"skipped\": " + std::to_string(report.skipped()) + ",\n";
    json += "  \"errors\": " + std::to_string(report.count(outcome::error)) + ",\n";
    json += "  \"warnings\": " + std::to_string(report.warnings()) + ",\n";
    json += "  \"checks\": [";
    const char* separator = "\n";
    for (const auto& [check, result] : report.results) {
        json += separator;
        separator = ",\n";
        json += "    {\"name\": " + json_string(check->name) + ", \"group\": " + json_string(group_of(check->name)) +
                ", \"result\": " + json_string(outcome_name(result.result)) +
                ", \"summary\": " + json_string(result.summary) + ", \"kind\": " + json_string(kind_word(result)) +
                ", \"call\": " + json_string(call_name(result.call)) + ", \"frame\": " + std::to_string(result.frame) +
                ", \"seconds\": " + number(result.seconds, "%.3f") + ", \"frames\": [";
        const char* comma = "";
        for (const fault_frame& frame : result.frames) {
            json += comma + std::string("{\"module\": ") + json_string(frame.module) +
                    ", \"offset\": " + json_string(hex_text(frame.offset));
            if (!frame.function.empty()) json += ", \"function\": " + json_string(frame.function);
            if (!frame.file.empty()) json += ", \"file\": " + json_string(frame.file);
            if (frame.line != 0) json += ", \"line\": " + std::to_string(frame.line);
            json += "}";
            comma = ", ";
        }
        json += "], \"figures\": {";
        comma = "";
        for (const auto& [name, value] : result.figures) {
            json += comma + json_string(name) + ": " + number(value);
            comma = ", ";
        }
        json += "}, \"notes\": [";
        comma = "";
        for (const std::string& note : result.notes) {
            json += comma + json_string(note);
            comma = ", ";
        }
        json += "], \"warnings\": [";
        comma = "";
        for (const check_warning& warning : result.warnings) {
            json += comma + std::string("{\"kind\": ") + json_string(warning_name(warning.kind)) +
                    ", \"count\": " + std::to_string(warning.count) + ", \"detail\": " + json_string(warning.detail) +
                    "}";
            comma = ", ";
        }
        json += "]}";
    }
    json += "\n  ]\n}\n";
    return json;
}

std::string valid_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        bool valid = length != 0 && i + length <= size;
        for (std::size_t k = 1; valid && k < length; ++k) valid = (bytes[i + k] & 0xC0) == 0x80;
        if (valid && length > 1) {
            // No overlong forms, no surrogates, nothing above U+10FFFF.
            std::uint32_t code = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (bytes[i + k] & 0x3F);
            static const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = code >= smallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

}  // namespace validate
