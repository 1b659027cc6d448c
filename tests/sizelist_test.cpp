#include "run/SizeList.h"

#include <gtest/gtest.h>

namespace {

using V = std::vector<int32_t>;

TEST(SizeList, ParsesLikeTheSizesEdit)
{
    EXPECT_EQ(qf::parseSizeList("8, 10, 12, 14"), (V{8, 10, 12, 14}));
    EXPECT_EQ(qf::parseSizeList("14;8,,12  10"), (V{8, 10, 12, 14}));
    EXPECT_EQ(qf::parseSizeList("12, 12, 8, 12"), (V{8, 12}));
    EXPECT_EQ(qf::parseSizeList("2, 3, -5, 0"), (V{3}));
    EXPECT_EQ(qf::parseSizeList("10pt, x12, +9"), (V{9, 10}));  // leading integer only
    EXPECT_EQ(qf::parseSizeList("8\t10"), (V{8}));               // a tab is not a separator
    EXPECT_EQ(qf::parseSizeList(""), V{});
    EXPECT_EQ(qf::parseSizeList(" ,; "), V{});
}

TEST(SizeList, OnlyTheFirst1023CharactersCount)
{
    std::string text(1020, ' ');
    text += "100";  // ends exactly at 1023
    EXPECT_EQ(qf::parseSizeList(text), (V{100}));
    text = std::string(1021, ' ') + "100";  // the last digit falls off
    EXPECT_EQ(qf::parseSizeList(text), (V{10}));
}

TEST(SizeList, HugeValuesAreClampedNotWrapped)
{
    int32_t v = 0;
    ASSERT_TRUE(qf::scanDecimal("99999999999", v));
    EXPECT_EQ(v, INT32_MAX);
    ASSERT_TRUE(qf::scanDecimal("  -7x", v));
    EXPECT_EQ(v, -7);
    EXPECT_FALSE(qf::scanDecimal("x7", v));
    EXPECT_FALSE(qf::scanDecimal("-", v));
}

}  // namespace
