#include "Core/Date.h"

#include <gtest/gtest.h>

#include <cwchar>

TEST(DateTest, SetPullsDayAndMonthIntoRangeAndShowsDayFirst)
{
    Date date;
    date.set(0, 0, 2010);
    EXPECT_EQ(date.day, 1);
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.year, 2010);
    EXPECT_STREQ(date.toString().text(), L"01.01.2010");

    date.set(40, 13, 2010);
    EXPECT_STREQ(date.toString().text(), L"31.12.2010");

    // The month's own length is not checked.
    date.set(31, 2, 7);
    EXPECT_STREQ(date.toString().text(), L"31.02.0007");
}
