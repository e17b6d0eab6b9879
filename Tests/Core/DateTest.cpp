#include "Core/Date.h"

#include <gtest/gtest.h>

TEST(DateTest, SetPullsDayAndMonthIntoRangeAndShowsDayFirst)
{
    Date date;
    date.set(0, 0, 2010);
    EXPECT_STREQ(date.toString().text(), L"01.01.2010");
    date.set(40, 13, 2010);
    EXPECT_STREQ(date.toString().text(), L"31.12.2010");
    date.set(31, 2, 7); // the month's own length is not checked
    EXPECT_STREQ(date.toString().text(), L"31.02.0007");
}
