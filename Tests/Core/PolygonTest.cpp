#include "Core/Polygon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace
{

std::vector<vec2d> hullOf(const std::vector<vec2d>& points)
{
    polygon2d p;
    for (const vec2d& v : points)
        EXPECT_TRUE(p.add(v));
    p.makeConvexHull();
    return {p.pointData(), p.pointData() + p.count};
}

TEST(ConvexHull, StartsAtTheTopAndRunsClockwise)
{
    const std::vector<vec2d> expected{{2, 2}, {2, 0}, {0, 0}, {0, 2}};
    EXPECT_EQ(hullOf({{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}}), expected);

    // All on one line: the extremes coincide, yet no corner is listed twice.
    const std::vector<vec2d> line = hullOf({{3, 1}, {0, 1}, {5, 1}, {1, 1}});
    for (size_t i = 0; i < line.size(); ++i)
        for (size_t j = i + 1; j < line.size(); ++j)
            EXPECT_FALSE(line[i] == line[j]);
    EXPECT_NE(std::find(line.begin(), line.end(), vec2d(0, 1)), line.end());
    EXPECT_NE(std::find(line.begin(), line.end(), vec2d(5, 1)), line.end());
}

TEST(ConvexHull, MatchesABruteForceHullOfRandomClouds)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    for (int round = 0; round < 200; ++round) {
        std::vector<vec2d> cloud(4 + random() % 60);
        for (vec2d& v : cloud)
            v = {u(random), u(random)};
        // A corner starts an edge with every other point on its right.
        std::vector<vec2d> corners;
        for (size_t i = 0; i < cloud.size(); ++i)
            for (size_t j = 0; j < cloud.size(); ++j) {
                bool edge = i != j;
                for (size_t k = 0; k < cloud.size() && edge; ++k)
                    edge = k == i || k == j || (cloud[j] - cloud[i]).cross(cloud[k] - cloud[i]) < 0;
                if (edge)
                    corners.push_back(cloud[i]);
            }
        const std::vector<vec2d> hull = hullOf(cloud);
        ASSERT_EQ(hull.size(), corners.size()) << round;
        for (const vec2d& c : corners)
            EXPECT_NE(std::find(hull.begin(), hull.end(), c), hull.end()) << round;
        // Clockwise from the highest point: every turn is a right turn.
        for (size_t i = 0; i < hull.size(); ++i) {
            const vec2d &a = hull[i], &b = hull[(i + 1) % hull.size()], &c = hull[(i + 2) % hull.size()];
            EXPECT_LT((b - a).cross(c - b), 0.0f) << round;
            EXPECT_LE(hull[i].y, hull[0].y) << round;
        }
    }
}

TEST(SegmentIntersect, CrossingTouchingAndMissing)
{
    // Segments a and b, the result and the point written (-9, -9: nothing written).
    const std::tuple<vec2d, vec2d, vec2d, vec2d, int, vec2d> cases[] = {
        {{0, 0}, {4, 4}, {0, 4}, {4, 0}, 1, {2, 2}},
        {{0, 0}, {4, 0}, {4, -2}, {4, 2}, 1, {4, 0}},  // ends count
        {{0, 0}, {4, 0}, {2, 1}, {2, 3}, 0, {2, 0}},   // the lines cross beyond b
        {{0, 0}, {4, 0}, {0, 1}, {4, 1}, 0, {-9, -9}}, // parallel
        {{0, 0}, {4, 0}, {6, 0}, {8, 0}, 0, {-9, -9}},
    };
    for (const auto& [a0, a1, b0, b1, result, written] : cases) {
        vec2d out{-9, -9};
        EXPECT_EQ(segmentIntersect2d(a0, a1, b0, b1, out), result) << b0.x << " " << b0.y;
        EXPECT_EQ(out, written) << b0.x << " " << b0.y;
    }
}

}
