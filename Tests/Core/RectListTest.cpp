#include "Core/RectList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace
{

using Rect = RectList::Rect;

std::vector<Rect> listed(const RectList& list)
{
    std::vector<Rect> out;
    for (auto* node = list.rects().head(); node; node = node->next)
        out.push_back(*node->item);
    return out;
}

void expectRects(const RectList& list, const std::vector<Rect>& expected)
{
    const std::vector<Rect> actual = listed(list);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].left, expected[i].left) << i;
        EXPECT_EQ(actual[i].top, expected[i].top) << i;
        EXPECT_EQ(actual[i].right, expected[i].right) << i;
        EXPECT_EQ(actual[i].bottom, expected[i].bottom) << i;
    }
}

TEST(RectList, CutsARectangleIntoTheFourPiecesAroundTheHole)
{
    RectList list;
    ASSERT_TRUE(list.add({0, 0, 10, 10}));
    list.subtract({3, 4, 6, 8});
    // Above (full width), left and right within the hole's rows, below (full width).
    expectRects(list, {{0, 0, 10, 4}, {0, 4, 3, 8}, {6, 4, 10, 8}, {0, 8, 10, 10}});
}

TEST(RectList, KeepsWhatTheSubtractedRectangleDoesNotCover)
{
    RectList list;
    list.add({0, 0, 100, 10});
    list.add({0, 10, 100, 20});
    // Shares only an edge with the first rectangle, which stays whole.
    list.subtract({0, 10, 50, 30});
    expectRects(list, {{0, 0, 100, 10}, {50, 10, 100, 20}});
    // Far away from every rectangle: nothing is split along its lines.
    list.subtract({200, 5, 210, 15});
    expectRects(list, {{0, 0, 100, 10}, {50, 10, 100, 20}});
    // A rectangle that ends inside the hole loses the covered part.
    list.subtract({40, 0, 120, 10});
    expectRects(list, {{0, 0, 40, 10}, {50, 10, 100, 20}});
    // Empty rectangles cover nothing.
    list.subtract({5, 5, 5, 9});
    list.subtract({5, 5, 9, 5});
    expectRects(list, {{0, 0, 40, 10}, {50, 10, 100, 20}});
    // Covering a rectangle whole removes it.
    list.subtract({-1, -1, 41, 11});
    expectRects(list, {{50, 10, 100, 20}});
}

TEST(RectList, AtlasGrowthLeavesTheRestOfTheLowerHalf)
{
    // A 128 x 64 atlas grown below to 128 x 128 with a 32 x 32 piece at (0, 64).
    RectList list;
    list.add({0, 0, 128, 128});
    list.subtract({0, 0, 128, 64});
    list.subtract({0, 64, 32, 96});
    expectRects(list, {{32, 64, 128, 96}, {0, 96, 128, 128}});
}

TEST(RectList, RandomCutsMatchAPixelGrid)
{
    constexpr int size = 48;
    std::mt19937 random(29);
    std::uniform_int_distribution<int> coordinate(-4, size + 4);
    for (int round = 0; round < 40; ++round) {
        RectList list;
        bool free[size][size] = {};
        // A few disjoint starting rectangles: the grid cut into horizontal bands.
        int top = 0;
        while (top < size) {
            const int bottom = std::min(size, top + 1 + int(random() % 20));
            const int gap = int(random() % 3);
            if (gap != 0) {
                list.add({0, top, size, bottom});
                for (int y = top; y < bottom; ++y)
                    for (int x = 0; x < size; ++x)
                        free[y][x] = true;
            }
            top = bottom;
        }
        for (int cut = 0; cut < 25; ++cut) {
            int l = coordinate(random), r = coordinate(random), t = coordinate(random), b = coordinate(random);
            if (l > r)
                std::swap(l, r);
            if (t > b)
                std::swap(t, b);
            list.subtract({l, t, r, b});
            for (int y = std::max(t, 0); y < std::min(b, size); ++y)
                for (int x = std::max(l, 0); x < std::min(r, size); ++x)
                    free[y][x] = false;

            int covered[size][size] = {};
            for (const Rect& rect : listed(list)) {
                ASSERT_LT(rect.left, rect.right);
                ASSERT_LT(rect.top, rect.bottom);
                ASSERT_GE(rect.left, 0);
                ASSERT_LE(rect.right, size);
                for (int y = rect.top; y < rect.bottom; ++y)
                    for (int x = rect.left; x < rect.right; ++x)
                        ++covered[y][x];
            }
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    ASSERT_EQ(covered[y][x], free[y][x] ? 1 : 0)
                        << "round " << round << " cut " << cut << " at " << x << "," << y;
        }
    }
}

TEST(RectList, ClearEmptiesTheList)
{
    RectList list;
    list.add({0, 0, 4, 4});
    list.subtract({1, 1, 2, 2});
    list.clear();
    EXPECT_EQ(list.rects().count(), 0);
    EXPECT_EQ(list.rects().head(), nullptr);
    list.add({1, 2, 3, 4});
    expectRects(list, {{1, 2, 3, 4}});
}

}
