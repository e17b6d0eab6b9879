#include "Core/RandomDraws.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

std::vector<int> slice(ArrayHeap<int>& a, int from, int to)
{
    return std::vector<int>(a.data() + from, a.data() + to);
}

std::vector<int> range(int low, int high)
{
    std::vector<int> values;
    for (int v = low; v < high; ++v)
        values.push_back(v);
    return values;
}

} // namespace

TEST(RandomDraws, WholePassesArePermutations)
{
    srand(1234);
    ArrayHeap<int> a;
    ASSERT_TRUE(fillRandomUnique(a, -3, 7, 10));
    ASSERT_EQ(a.count(), 10);
    std::vector<int> pass = slice(a, 0, 10);
    std::sort(pass.begin(), pass.end());
    EXPECT_EQ(pass, range(-3, 7));

    ASSERT_TRUE(fillRandomUnique(a, 0, 10, 25));
    ASSERT_EQ(a.count(), 25);
    for (int from : {0, 10}) {
        std::vector<int> values = slice(a, from, from + 10);
        std::sort(values.begin(), values.end());
        EXPECT_EQ(values, range(0, 10)) << "pass from " << from;
    }
    std::vector<int> rest = slice(a, 20, 25);
    EXPECT_EQ(std::set<int>(rest.begin(), rest.end()).size(), 5u);
}

TEST(RandomDraws, DrawsAreNotAlwaysInOrder)
{
    srand(99);
    ArrayHeap<int> a;
    int shuffled = 0;
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(fillRandomUnique(a, 0, 8, 8));
        if (slice(a, 0, 8) != range(0, 8))
            ++shuffled;
    }
    EXPECT_GT(shuffled, 15);
}

TEST(RandomDraws, NothingToDrawOrAnEmptyRange)
{
    ArrayHeap<int> a(3);
    *a.at(0) = 42;
    EXPECT_TRUE(fillRandomUnique(a, 0, 10, 0));
    EXPECT_TRUE(fillRandomUnique(a, 0, 10, -4));
    EXPECT_FALSE(fillRandomUnique(a, 5, 5, 2));
    EXPECT_FALSE(fillRandomUnique(a, 6, 5, 2));
    EXPECT_EQ(a.count(), 3);
    EXPECT_EQ(*a.at(0), 42);
}

TEST(RandomDraws, WideRangeCostsOnlyTheDraws)
{
    ArrayHeap<int> a;
    ASSERT_TRUE(fillRandomUnique(a, INT_MIN, INT_MAX, 1000));
    ASSERT_EQ(a.count(), 1000);
    std::vector<int> values = slice(a, 0, 1000);
    EXPECT_EQ(std::set<int>(values.begin(), values.end()).size(), 1000u);
    EXPECT_TRUE(std::all_of(values.begin(), values.end(), [](int v) { return v < INT_MAX; }));

    ASSERT_TRUE(fillRandomUnique(a, 100, 101, 3));
    EXPECT_EQ(slice(a, 0, 3), std::vector<int>({100, 100, 100}));
}
