// Built with NDEBUG: the getters' precondition checks compile to nothing and
// a mismatched getter reads the value area as its own type.
#include <gtest/gtest.h>

#include <skarvel/shared/input/tm_external_message.h>

#include "record_bytes.h"

#if !defined(NDEBUG)
#error "this test is built with NDEBUG"
#endif

namespace {

TEST(MessageRecordUnchecked, MismatchedGettersReadTheValueAreaAsTheirOwnType)
{
    tm_external_message m = record_of(tm_msg_data_type::String8, {});
    put_double(m, 0, 1.5);
    put_double(m, 1, -2.0);
    put_double(m, 2, 4.0);
    put_double(m, 3, 8.0);

    EXPECT_EQ(m.GetInt(), 0x3FF8000000000000);
    EXPECT_EQ(m.GetDouble(), 1.5);
    EXPECT_EQ(m.GetVector2d().y, -2.0);
    EXPECT_EQ(m.GetVector3d().z, 4.0);
    EXPECT_EQ(m.GetVector4d().w, 8.0);

    m.Header.DataType = tm_msg_data_type::Double;
    const tm_fixed_string s = m.GetString();
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s.GetCString()[0], '\0');
}

}  // namespace
