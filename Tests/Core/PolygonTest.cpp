#include "Core/Polygon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace
{

polygon2d make(const std::vector<vec2d>& points)
{
    polygon2d p;
    for (const vec2d& v : points)
        EXPECT_TRUE(p.add(v));
    return p;
}

std::vector<vec2d> pointsOf(const polygon2d& p) { return {p.pointData(), p.pointData() + p.count}; }

TEST(ConvexHull, SquareWithACentrePoint)
{
    polygon2d p = make({{0, 0}, {2, 0}, {1, 1}, {2, 2}, {0, 2}});
    p.makeConvexHull();
    // From the highest y (first of the ties) through highest x, lowest y, lowest x.
    const std::vector<vec2d> expected{{2, 2}, {2, 0}, {0, 0}, {0, 2}};
    EXPECT_EQ(pointsOf(p), expected);
}

TEST(ConvexHull, ThreePointsStayAsTheyAre)
{
    polygon2d p = make({{0, 0}, {0, 5}, {1, 1}});
    p.makeConvexHull();
    const std::vector<vec2d> expected{{0, 0}, {0, 5}, {1, 1}};
    EXPECT_EQ(pointsOf(p), expected);
}

TEST(ConvexHull, PointsBetweenTheExtremes)
{
    // An octagon-like outline with inner points; extremes are the four tips.
    polygon2d p = make({{0, 10}, {1, 1}, {10, 0}, {-2, 2}, {7, 7}, {0, -10}, {-10, 0}, {-7, -7}, {3, -3},
                        {7, -7}, {-7, 7}});
    p.makeConvexHull();
    const std::vector<vec2d> expected{{0, 10}, {7, 7}, {10, 0}, {7, -7}, {0, -10}, {-7, -7}, {-10, 0}, {-7, 7}};
    EXPECT_EQ(pointsOf(p), expected);
}

TEST(ConvexHull, CollinearPointsGiveNoRepeatedCorner)
{
    polygon2d p = make({{3, 1}, {0, 1}, {5, 1}, {1, 1}});
    p.makeConvexHull();
    std::vector<vec2d> hull = pointsOf(p);
    for (size_t i = 0; i < hull.size(); ++i)
        for (size_t j = i + 1; j < hull.size(); ++j)
            EXPECT_FALSE(hull[i] == hull[j]);
    EXPECT_NE(std::find(hull.begin(), hull.end(), vec2d(0, 1)), hull.end());
    EXPECT_NE(std::find(hull.begin(), hull.end(), vec2d(5, 1)), hull.end());
}

TEST(ConvexHull, MatchesABruteForceHullOfRandomClouds)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    for (int round = 0; round < 200; ++round) {
        const int n = 4 + int(random() % 60);
        std::vector<vec2d> cloud;
        for (int i = 0; i < n; ++i)
            cloud.push_back({u(random), u(random)});
        // Brute force: a hull corner is the end of an edge with every other point on one side.
        std::vector<vec2d> corners;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                if (i == j)
                    continue;
                bool edge = true;
                for (int k = 0; k < n && edge; ++k)
                    if (k != i && k != j && (cloud[j] - cloud[i]).cross(cloud[k] - cloud[i]) >= 0)
                        edge = false;
                if (edge)
                    corners.push_back(cloud[i]);
            }

        polygon2d p = make(cloud);
        p.makeConvexHull();
        std::vector<vec2d> hull = pointsOf(p);
        ASSERT_EQ(hull.size(), corners.size()) << round;
        for (const vec2d& c : corners)
            EXPECT_NE(std::find(hull.begin(), hull.end(), c), hull.end()) << round;
        // Clockwise (y up), every turn a right turn.
        for (size_t i = 0; i < hull.size(); ++i) {
            const vec2d& a = hull[i];
            const vec2d& b = hull[(i + 1) % hull.size()];
            const vec2d& c = hull[(i + 2) % hull.size()];
            EXPECT_LT((b - a).cross(c - b), 0.0f) << round;
        }
        // Starts at the highest point.
        for (const vec2d& v : cloud)
            EXPECT_LE(v.y, hull[0].y);
    }
}

TEST(Polygon3d, LiftsTwoDimensionalPointsThroughAMatrix)
{
    polygon2d outline = make({{1, 2}, {3, 4}, {-5, 6}});
    // Turn 90 degrees about x (y goes to z), then move by (10, 20, 30).
    matrix3d m = matrix3d::identity();
    m.at(1, 1) = 0;
    m.at(1, 2) = 1;
    m.at(2, 1) = -1;
    m.at(2, 2) = 0;
    m.m[12] = 10;
    m.m[13] = 20;
    m.m[14] = 30;
    polygon3d lifted;
    ASSERT_TRUE(lifted.fromPolygon2d(outline, m));
    ASSERT_EQ(lifted.count, 3);
    EXPECT_EQ(lifted.pointData()[0], vec3d(11, 20, 32));
    EXPECT_EQ(lifted.pointData()[1], vec3d(13, 20, 34));
    EXPECT_EQ(lifted.pointData()[2], vec3d(5, 20, 36));
    // Lifting a shorter outline copies its count.
    polygon2d shorter = make({{0, 0}});
    ASSERT_TRUE(lifted.fromPolygon2d(shorter, matrix3d::identity()));
    EXPECT_EQ(lifted.count, 1);
}

TEST(SegmentIntersect, CrossingTouchingAndMissing)
{
    vec2d out{-99, -99};
    EXPECT_EQ(segmentIntersect2d({0, 0}, {4, 4}, {0, 4}, {4, 0}, out), 1);
    EXPECT_FLOAT_EQ(out.x, 2);
    EXPECT_FLOAT_EQ(out.y, 2);
    // Ends count: a T-junction at an end point.
    EXPECT_EQ(segmentIntersect2d({0, 0}, {4, 0}, {4, -2}, {4, 2}, out), 1);
    EXPECT_EQ(out, vec2d(4, 0));
    // The lines cross beyond the end of the second segment: written, but 0.
    EXPECT_EQ(segmentIntersect2d({0, 0}, {4, 0}, {2, 1}, {2, 3}, out), 0);
    EXPECT_EQ(out, vec2d(2, 0));
    // Parallel lines: 0 and nothing written.
    out = {-99, -99};
    EXPECT_EQ(segmentIntersect2d({0, 0}, {4, 0}, {0, 1}, {4, 1}, out), 0);
    EXPECT_EQ(out, vec2d(-99, -99));
    EXPECT_EQ(segmentIntersect2d({0, 0}, {4, 0}, {6, 0}, {8, 0}, out), 0);
    EXPECT_EQ(out, vec2d(-99, -99));
}

}
