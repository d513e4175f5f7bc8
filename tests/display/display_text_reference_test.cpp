// The number texts against glibc's printf, which prints the exact value of a
// double correctly rounded: built natively only, as the C runtime of the
// Windows build rounds and names non-finite values its own way.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "display/display_text.h"
#include "display_text_testing.h"

using display_testing::double_record;
using display_testing::shown;

TEST(DisplayValueReference, DoublesPrintAsGlibcPrintsThem)
{
    display_testing::double_sequence doubles;
    char expected[400];
    for (int i = 0; i < 200000; ++i) {
        const double value = doubles.next();
        std::snprintf(expected, sizeof expected, "v=%.3f", value);
        ASSERT_EQ(shown(format_value(double_record(value))), std::string(expected).substr(0, 254)) << i;

        std::snprintf(expected, sizeof expected, "messages = 7  dt=%f  counter=9", value);
        ASSERT_EQ(shown(format_header(7, value, 9)), std::string(expected).substr(0, 254)) << i;
    }
}
