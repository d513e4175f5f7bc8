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

// The cells of the table whose header begins "| # | Message | Type |", backticks dropped.
std::vector<std::vector<std::string>> guide_table()
{
    std::ifstream guide(SKARVEL_SOURCE_DIR "/docs/writing_a_plugin.md");
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(guide, line) && line.rfind("| # | Message | Type |", 0) != 0) {
    }
    std::getline(guide, line);  // the separator
    while (std::getline(guide, line) && line.rfind('|', 0) == 0) {
        std::vector<std::string> cells;
        std::stringstream cells_of(line.substr(1));
        for (std::string cell; std::getline(cells_of, cell, '|');) {
            cell.erase(std::remove(cell.begin(), cell.end(), '`'), cell.end());
            const std::size_t from = cell.find_first_not_of(' ');
            cells.push_back(from == std::string::npos ? "" : cell.substr(from, cell.find_last_not_of(' ') - from + 1));
        }
        rows.push_back(cells);
    }
    return rows;
}

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

// The value rounds to the number as written.
bool agrees(const std::string& written, double value)
{
    const std::size_t point = written.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(written.size() - point - 1);
    return std::fabs(std::stod(written) - value) <= 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9);
}

}  // namespace

TEST(FlightScenario, GuideTableIsTheFlight)
{
    static const char* const type_names[] = {"None",     "Int",      "Double", "Vector2d",
                                             "Vector3d", "Vector4d", "String", "String8"};
    const std::vector<std::vector<std::string>> rows = guide_table();
    tools::flight_scenario scenario;
    tm_message_list first;
    tools::make_scenario_frame(scenario.state(), first);
    ASSERT_EQ(rows.size(), first.size()) << "rows in the guide's table of the built-in flight";

    // The lowest and the highest of each component over the first 120 s; strings never change.
    std::vector<std::vector<double>> low(first.size()), high(first.size());
    tm_message_list frame;
    for (int i = 0; i <= 120 * 60; ++i, scenario.advance(1.0 / 60.0)) {
        tools::make_scenario_frame(scenario.state(), frame);
        for (std::size_t k = 0; k < frame.size(); ++k) {
            const std::vector<double> values = components(frame[k]);
            if (i == 0) low[k] = high[k] = values;
            for (std::size_t c = 0; c < values.size(); ++c) {
                low[k][c] = std::min(low[k][c], values[c]);
                high[k][c] = std::max(high[k][c], values[c]);
            }
            if (values.empty() && frame[k].GetDataType() != tm_msg_data_type::None) {
                EXPECT_STREQ(frame[k].GetString().GetCString(), first[k].GetString().GetCString());
            }
        }
    }

    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::string& values = rows[k].at(4);
        const tm_external_message& m = first[k];
        SCOPED_TRACE("row " + rows[k].at(0) + ", " + rows[k].at(1) + ": " + values);
        EXPECT_EQ(rows[k].at(1), get_message_name(m).GetCString());
        EXPECT_EQ(rows[k].at(2), type_names[static_cast<int>(m.GetDataType())]);
        if (m.GetDataType() == tm_msg_data_type::None) {
            EXPECT_EQ(values, "no value");
        } else if (low[k].empty()) {
            EXPECT_EQ(values, "\"" + std::string(m.GetString().GetCString()) + "\"");
        } else {
            // "A", "A to B", or per component "x A to B, y C, ...".
            std::stringstream parts(values);
            std::size_t c = 0;
            for (std::string part; std::getline(parts, part, ','); ++c) {
                std::stringstream words(part);
                std::vector<std::string> w;
                for (std::string word; words >> word;) w.push_back(word);
                if (low[k].size() > 1 && !w.empty()) {
                    EXPECT_EQ(w.front(), std::string(1, "xyzw"[std::min<std::size_t>(c, 3)]));
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
