#include "Core/RectList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace
{

using Edges = std::tuple<int, int, int, int>;

std::vector<Edges> listed(const RectList& list)
{
    std::vector<Edges> out;
    for (auto* node = list.rects().head(); node; node = node->next)
        out.emplace_back(node->item->left, node->item->top, node->item->right, node->item->bottom);
    return out;
}

TEST(RectList, CutsOnlyWhatTheHoleCovers)
{
    RectList list;
    ASSERT_TRUE(list.add({0, 0, 10, 10}));
    list.subtract({3, 4, 6, 8});
    // Above (full width), left and right within the hole's rows, below (full width).
    EXPECT_EQ(listed(list), (std::vector<Edges>{{0, 0, 10, 4}, {0, 4, 3, 8}, {6, 4, 10, 8}, {0, 8, 10, 10}}));

    // An atlas grown below: the free space right of the new piece and under it stays.
    list.clear();
    list.add({0, 0, 128, 128});
    list.subtract({0, 0, 128, 64});
    list.subtract({0, 64, 32, 96});
    EXPECT_EQ(listed(list), (std::vector<Edges>{{32, 64, 128, 96}, {0, 96, 128, 128}}));
}

// Clearing empties the list whichever of its two stores holds the
// rectangles, and nothing cleared comes back with the next cut.
TEST(RectList, ClearForgetsEveryRectangleAfterAnyNumberOfCuts)
{
    for (int cuts = 0; cuts < 3; ++cuts) {
        RectList list;
        list.add({0, 0, 50, 50});
        for (int i = 0; i < cuts; ++i)
            list.subtract({10 * i, 0, 10 * i + 5, 5});
        list.clear();
        EXPECT_TRUE(listed(list).empty()) << cuts;
        list.add({100, 100, 110, 110});
        list.subtract({100, 100, 110, 105});
        EXPECT_EQ(listed(list), (std::vector<Edges>{{100, 105, 110, 110}})) << cuts;
    }
}

TEST(RectList, RandomCutsMatchAPixelGrid)
{
    constexpr int size = 48;
    std::mt19937 random(29);
    std::uniform_int_distribution<int> coordinate(-4, size + 4);
    for (int round = 0; round < 40; ++round) {
        RectList list;
        bool free[size][size] = {};
        // Start from horizontal bands with gaps between some of them.
        for (int top = 0, bottom; top < size; top = bottom) {
            bottom = std::min(size, top + 1 + int(random() % 20));
            if (random() % 3 == 0)
                continue;
            list.add({0, top, size, bottom});
            for (int y = top; y < bottom; ++y)
                std::fill(free[y], free[y] + size, true);
        }
        for (int cut = 0; cut < 25; ++cut) {
            int l = coordinate(random), r = coordinate(random), t = coordinate(random), b = coordinate(random);
            list.subtract({std::min(l, r), std::min(t, b), std::max(l, r), std::max(t, b)});
            for (int y = std::max(std::min(t, b), 0); y < std::min(std::max(t, b), size); ++y)
                for (int x = std::max(std::min(l, r), 0); x < std::min(std::max(l, r), size); ++x)
                    free[y][x] = false;

            int covered[size][size] = {};
            for (const auto& [left, top, right, bottom] : listed(list)) {
                ASSERT_TRUE(0 <= left && left < right && right <= size && 0 <= top && top < bottom && bottom <= size);
                for (int y = top; y < bottom; ++y)
                    for (int x = left; x < right; ++x)
                        ++covered[y][x];
            }
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    ASSERT_EQ(covered[y][x], free[y][x] ? 1 : 0) << "round " << round << " cut " << cut << " at " << x
                                                                 << "," << y;
        }
    }
}

}
