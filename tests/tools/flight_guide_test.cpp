// The table of the built-in flight's messages in docs/writing_a_plugin.md is
// the flight: the same messages in the same order with the same data types,
// and the values it gives (one, or the lowest and the highest of each
// component) are those that the first 120 s send at 60 Hz, to the last digit
// it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <skarvel/catalogue/message_name_list.h>

#include "tools/common/flight_scenario.h"

namespace {

struct guide_row {
    std::string name, type, values;
};

std::string trimmed(const std::string& text, const char* strip = " `")
{
    const std::size_t first = text.find_first_not_of(strip);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(strip) - first + 1);
}

// The rows of the table whose header begins "| # | Message | Type |".
std::vector<guide_row> guide_table()
{
    std::ifstream guide(SKARVEL_SOURCE_DIR "/docs/writing_a_plugin.md");
    std::vector<guide_row> rows;
    std::string line;
    bool inside = false;
    while (std::getline(guide, line)) {
        if (line.rfind("| # | Message | Type |", 0) == 0) {
            inside = true;
            std::getline(guide, line);  // the separator
            continue;
        }
        if (!inside) continue;
        if (line.rfind("|", 0) != 0) break;
        std::vector<std::string> cells;
        std::stringstream cells_of(line.substr(1));
        for (std::string cell; std::getline(cells_of, cell, '|');) cells.push_back(trimmed(cell));
        if (cells.size() < 6) break;
        rows.push_back({cells[1], cells[2], cells[4]});
    }
    return rows;
}

const char* type_name(tm_msg_data_type type)
{
    static const char* const names[] = {"None", "Int", "Double", "Vector2d", "Vector3d", "Vector4d", "String", "String8"};
    const auto index = static_cast<unsigned>(type);
    return index < 8 ? names[index] : "?";
}

// The numbers a message carries: its components, or none.
std::vector<double> components(const tm_external_message& m)
{
    switch (m.GetDataType()) {
    case tm_msg_data_type::Int: return {static_cast<double>(m.GetInt())};
    case tm_msg_data_type::Double: return {m.GetDouble()};
    case tm_msg_data_type::Vector2d: return {m.GetVector2d().x, m.GetVector2d().y};
    case tm_msg_data_type::Vector3d: return {m.GetVector3d().x, m.GetVector3d().y, m.GetVector3d().z};
    case tm_msg_data_type::Vector4d:
        return {m.GetVector4d().x, m.GetVector4d().y, m.GetVector4d().z, m.GetVector4d().w};
    default: return {};
    }
}

// A number as written, and the true value agrees with it when it rounds to it.
bool agrees(const std::string& written, double value)
{
    const std::size_t point = written.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(written.size() - point - 1);
    return std::fabs(std::stod(written) - value) <= 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9);
}

}  // namespace

TEST(FlightScenario, GuideTableIsTheFlight)
{
    const std::vector<guide_row> rows = guide_table();
    tools::flight_scenario scenario;
    tm_message_list frame;
    tools::make_scenario_frame(scenario.state(), frame);
    ASSERT_EQ(rows.size(), frame.size()) << "rows in the guide's table of the built-in flight";

    // The lowest and highest of each component over the first 120 s, and the first frame.
    const tm_message_list first = frame;
    std::vector<std::vector<double>> low(frame.size()), high(frame.size());
    for (int i = 0; i <= 120 * 60; ++i) {
        tools::make_scenario_frame(scenario.state(), frame);
        for (std::size_t k = 0; k < frame.size(); ++k) {
            const std::vector<double> values = components(frame[k]);
            if (low[k].empty()) low[k] = high[k] = values;
            for (std::size_t c = 0; c < values.size(); ++c) {
                low[k][c] = std::min(low[k][c], values[c]);
                high[k][c] = std::max(high[k][c], values[c]);
            }
            if (frame[k].GetDataType() == tm_msg_data_type::String ||
                frame[k].GetDataType() == tm_msg_data_type::String8) {
                EXPECT_STREQ(frame[k].GetString().GetCString(), first[k].GetString().GetCString());
            }
        }
        scenario.advance(1.0 / 60.0);
    }

    for (std::size_t k = 0; k < rows.size(); ++k) {
        const guide_row& row = rows[k];
        const tm_external_message& m = first[k];
        SCOPED_TRACE("row " + std::to_string(k + 1) + ", " + row.name + ": " + row.values);
        EXPECT_EQ(row.name, get_message_name(m).GetCString());
        EXPECT_EQ(row.type, type_name(m.GetDataType()));
        if (m.GetDataType() == tm_msg_data_type::None) {
            EXPECT_EQ(row.values, "no value");
        } else if (m.GetDataType() == tm_msg_data_type::String || m.GetDataType() == tm_msg_data_type::String8) {
            EXPECT_EQ(row.values, "\"" + std::string(m.GetString().GetCString()) + "\"");
        } else {
            // "A", "A to B", or per component "x A to B, y C, ...".
            const bool vector = low[k].size() > 1;
            std::stringstream parts(row.values);
            std::size_t c = 0;
            for (std::string part; std::getline(parts, part, ','); ++c) {
                std::stringstream words(part);
                std::vector<std::string> w;
                for (std::string word; words >> word;) w.push_back(word);
                if (vector) {
                    ASSERT_FALSE(w.empty());
                    EXPECT_EQ(w.front(), std::string(1, "xyzw"[c])) << "component " << c;
                    w.erase(w.begin());
                }
                ASSERT_LT(c, low[k].size()) << "more components than the message has";
                ASSERT_TRUE(w.size() == 1 || (w.size() == 3 && w[1] == "to")) << part;
                EXPECT_TRUE(agrees(w.front(), low[k][c])) << "lowest " << low[k][c] << ", not " << w.front();
                EXPECT_TRUE(agrees(w.back(), high[k][c])) << "highest " << high[k][c] << ", not " << w.back();
            }
            EXPECT_EQ(c, low[k].size()) << "components given";
        }
    }
}
