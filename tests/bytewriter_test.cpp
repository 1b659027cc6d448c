// Range errors of binary fields say what is wrong with the value.
#include "formats/ByteWriter.h"

#include <gtest/gtest.h>

namespace {

TEST(ByteWriter, RangeErrorsNameTheFieldAndWhatItHolds)
{
    uint8_t buffer[4];
    const std::pair<int64_t, const char*> unsignedCases[] = {
        {-1, "width: -1 is negative, but the field holds 0 to 65535"},
        {65536, "width: 65536 does not fit in 16 bits"},
    };
    for (const auto& [value, message] : unsignedCases) {
        qf::ByteWriter w(buffer, sizeof buffer);
        EXPECT_EQ(w.le16("width", value).error(), message);
    }
    qf::ByteWriter w(buffer, sizeof buffer);
    EXPECT_EQ(w.sle16("x", -32769).error(), "x: -32769 does not fit in 16 signed bits");
    qf::ByteWriter fine(buffer, sizeof buffer);
    EXPECT_TRUE(fine.sle16("x", -1).le16("y", 65535).ok());
}

}  // namespace
