#include "tools/host/frame_printer.h"

#include <charconv>

#include <skarvel/shared/input/tm_message_stream.h>

namespace tools {
namespace {

void append_number(std::string& out, double value)
{
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);  // shortest round trip
    out.append(digits, result.ptr);
}

void append_vector(std::string& out, const double* components, int count)
{
    for (int i = 0; i < count; ++i) {
        if (i > 0) out += ' ';
        append_number(out, components[i]);
    }
}

// Latin-1 text into UTF-8; control characters (a tab among them) as "?".
void append_text(std::string& out, const tm_fixed_string& text)
{
    for (std::uint32_t i = 0; i < text.GetLength(); ++i) {
        const auto c = static_cast<unsigned char>(text.GetCString()[i]);
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            out += '?';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

void format_value(const tm_external_message& m, std::string& out)
{
    out.clear();
    switch (m.GetDataType()) {
        case tm_msg_data_type::None: out = "void"; return;
        case tm_msg_data_type::Int: out = std::to_string(m.GetInt()); return;
        case tm_msg_data_type::Double: append_number(out, m.GetDouble()); return;
        case tm_msg_data_type::Vector2d: {
            const tm_vector3d v = m.GetVector2d();
            const double c[] = {v.x, v.y};
            append_vector(out, c, 2);
            return;
        }
        case tm_msg_data_type::Vector3d: {
            const tm_vector3d v = m.GetVector3d();
            const double c[] = {v.x, v.y, v.z};
            append_vector(out, c, 3);
            return;
        }
        case tm_msg_data_type::Vector4d: {
            const tm_vector4d v = m.GetVector4d();
            const double c[] = {v.x, v.y, v.z, v.w};
            append_vector(out, c, 4);
            return;
        }
        case tm_msg_data_type::String:
        case tm_msg_data_type::String8: append_text(out, m.GetString()); return;
    }
    out = "type " + std::to_string(static_cast<unsigned>(m.GetDataType()));
}

}  // namespace

bool is_printable_message_name(std::string_view name) noexcept
{
    if (name.empty() || name.size() > tm_fixed_string::max_length) return false;
    for (const char c : name) {
        if (c <= ' ' || c > '~' || c == ',') return false;
    }
    return true;
}

frame_printer::frame_printer(std::vector<std::string> names)
    : names_(std::move(names)), seen_(names_.size()), found_(names_.size()), values_(names_.size())
{
    for (const std::string& name : names_) ids_.push_back(tm_msg_hash(name.c_str(), name.size() + 1));
}

std::string frame_printer::header() const
{
    std::string line = "frame";
    for (const std::string& name : names_) line += '\t' + name;
    return line;
}

void frame_printer::format(std::uint64_t frame, const std::uint8_t* stream, std::size_t length, std::uint32_t count,
                           std::string& line)
{
    found_.assign(names_.size(), false);
    std::uint32_t position = 0;
    tm_external_message message;
    for (std::uint32_t i = 0; i < count && stream != nullptr; ++i) {
        if (!read_message_bounded(stream, length, position, message)) break;
        for (std::size_t c = 0; c < ids_.size(); ++c) {
            if (found_[c] || ids_[c] != message.GetID()) continue;
            format_value(message, values_[c]);
            found_[c] = true;
            seen_[c] = true;
        }
    }
    line = std::to_string(frame);
    for (std::size_t c = 0; c < names_.size(); ++c) {
        line += '\t';
        line += found_[c] ? values_[c] : "-";
    }
}

std::vector<std::string> frame_printer::never_seen() const
{
    std::vector<std::string> names;
    for (std::size_t c = 0; c < names_.size(); ++c)
        if (!seen_[c]) names.push_back(names_[c]);
    return names;
}

}  // namespace tools
