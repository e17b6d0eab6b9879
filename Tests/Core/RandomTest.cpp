#include "Core/RandomDraws.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <numeric>
#include <set>
#include <vector>

namespace
{

std::vector<int> slice(ArrayHeap<int>& a, int from, int to) { return std::vector<int>(a.data() + from, a.data() + to); }

TEST(RandomDraws, EachPassIsAShuffleOfTheRange)
{
    srand(1234);
    ArrayHeap<int> a;
    std::vector<int> range(10);
    std::iota(range.begin(), range.end(), -3);
    int shuffled = 0;
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(fillRandomUnique(a, -3, 7, 25));
        ASSERT_EQ(a.count(), 25);
        for (int from : {0, 10, 20}) {
            std::vector<int> pass = slice(a, from, std::min(from + 10, 25));
            shuffled += pass.size() == 10 && pass != range;
            std::sort(pass.begin(), pass.end());
            EXPECT_TRUE(std::includes(range.begin(), range.end(), pass.begin(), pass.end()));
            EXPECT_EQ(std::adjacent_find(pass.begin(), pass.end()), pass.end());
        }
    }
    EXPECT_GT(shuffled, 35);

    // The widest range costs only the draws.
    ASSERT_TRUE(fillRandomUnique(a, INT_MIN, INT_MAX, 1000));
    const std::set<int> wide(a.data(), a.data() + 1000);
    EXPECT_EQ(wide.size(), 1000u);
    EXPECT_LT(*wide.rbegin(), INT_MAX);

    *a.at(0) = 42; // nothing to draw, or an empty range
    EXPECT_TRUE(fillRandomUnique(a, 0, 10, 0));
    EXPECT_FALSE(fillRandomUnique(a, 5, 5, 2));
    EXPECT_FALSE(fillRandomUnique(a, 6, 5, 2));
    EXPECT_EQ(a.count(), 1000);
    EXPECT_EQ(*a.at(0), 42);
}

}
