// Segment curves, cross-sections, ground fitting and thinning.
#include "WayTestFiles.h"

#include "Core/Math.h"

namespace {

using namespace WayTestFiles;

class WayCurve : public Network
{
};

float polylineLength(const ::Way::Curve& curve, int pieces)
{
    float length = 0.0f;
    vec3d last = curve.pointAt(0.0f);
    for (int i = 1; i <= pieces; ++i) {
        const vec3d p = curve.pointAt(float(i) / float(pieces));
        length += (p - last).length();
        last = p;
    }
    return length;
}

TEST_F(WayCurve, ShapeLengthAndStep)
{
    // A quarter circle of radius 100 through its neighbours on the circle.
    Route circle;
    for (int degrees : {-30, 0, 90, 120}) {
        const float a = float(degrees) * 3.1415927f / 180.0f;
        circle.push_back(point(100.0f * std::cos(a), 100.0f * std::sin(a)));
    }
    ASSERT_TRUE(read(bytesOf({circle})));
    const ::Way::Segment& quarter = *gWayNetwork.segments[1];
    const float fine = polylineLength(quarter, 2000);
    EXPECT_NEAR(quarter.length, fine, fine * 0.01f);
    // Its first control point lies a third of the chord from the start,
    // along the chord from the previous point to the end point.
    const vec3d previous = circle[0].position[0] * vec3d(1, 0, 0) + circle[0].position[2] * vec3d(0, 0, 1);
    const vec3d towards = (quarter.p3 - previous).normalised() * ((quarter.p3 - quarter.p0).length() / 3.0f);
    EXPECT_NEAR((quarter.c1 - (quarter.p0 + towards)).length(), 0.0f, 0.01f);
    // Its ends, and a cross-section's edges half the width from the centre.
    EXPECT_EQ(quarter.pointAt(0.0f), vec3d(100.0f, 0.0f, 0.0f));
    ::Way::Pos pos;
    ::Way::Segment::crossSectionAt(pos, quarter, 0.5f);
    EXPECT_NEAR((pos.right - pos.left).length(), 8.0f, 0.01f);
    EXPECT_NEAR(pos.side.length(), 1.0f, 0.001f);
    EXPECT_NEAR(pos.forward.dot(pos.side), 0.0f, 0.001f);
    EXPECT_FLOAT_EQ(pos.distance, 0.5f * quarter.length);

    // Alone, a segment is straight: its control points at a third and two
    // thirds of the chord; a length of 0.5 at one step per unit is one step.
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0), point(30, 60)}})));
    const ::Way::Segment& straight = *gWayNetwork.segments[0];
    EXPECT_NEAR(straight.c1.x, 10.0f, 0.01f);
    EXPECT_NEAR(straight.c1.z, 20.0f, 0.01f);
    EXPECT_NEAR(straight.c2.x, 20.0f, 0.01f);
    EXPECT_NEAR(straight.c2.z, 40.0f, 0.01f);
    Route short_{point(0, 0), point(0, 0.5f)};
    short_[0].stepsPerLength = 1.0f;
    ASSERT_TRUE(read(bytesOf({short_})));
    const ::Way::Segment& one = *gWayNetwork.segments[0];
    EXPECT_EQ(one.step, 1.0f);
    ASSERT_EQ(one.positions.size(), 2u);
    EXPECT_EQ(one.positions[0].t, 0.0f);
    EXPECT_EQ(one.positions[1].t, 1.0f);
    // A curve made again without its end point starts from nothing.
    ::Way::Curve reused = one;
    ::Way::Segment::initCurve(reused, one.startNode, nullptr);
    EXPECT_EQ(reused.valid, 0u);
    EXPECT_EQ(reused.length, 0.0f);
    EXPECT_EQ(reused.step, 0.0f);
    EXPECT_EQ(reused.p3, vec3d());
}

TEST_F(WayCurve, WidthsBlendAndTangentsOfNoLengthStayFinite)
{
    // The point before the segment's start lies on its end point.
    Route route{point(0, 40), point(0, 0), point(0, 40, L"SimpleWayBorderPaver1", 16.0f), point(40, 40)};
    ASSERT_TRUE(read(bytesOf({route})));
    const ::Way::Segment& s = *gWayNetwork.segments[1];
    EXPECT_EQ(s.c1, s.p0);
    for (float t : {0.0f, 0.25f, 0.5f, 1.0f}) {
        ::Way::Pos pos;
        ::Way::Segment::crossSectionAt(pos, s, t);
        EXPECT_TRUE(std::isfinite(pos.forward.x) && std::isfinite(pos.side.z)) << t;
        // The width follows a cosine from 8 to 16.
        const float expected = 8.0f + 8.0f * (1.0f - std::cos(t * 3.1415927f)) * 0.5f;
        EXPECT_NEAR((pos.right - pos.left).length(), expected, 0.01f) << t;
    }
}

TEST_F(WayCurve, TheLookAheadCrossesIntoTheNextSegmentOnly)
{
    // A right turn at (0, 100): late on the first segment the forward vector
    // already turns towards the next one; on the last segment it keeps to
    // its own curve.
    Route route{point(0, 0), point(0, 100), point(100, 100)};
    ASSERT_TRUE(read(bytesOf({route})));
    ::Way::Pos late;
    ::Way::Segment::crossSectionAt(late, *gWayNetwork.segments[0], 0.995f);
    EXPECT_GT(late.forward.x, 0.3f);
    ::Way::Pos end;
    ::Way::Segment::crossSectionAt(end, *gWayNetwork.segments[1], 0.995f);
    EXPECT_GT(end.forward.x, 0.99f);
}

TEST_F(WayCurve, ThinningDropsStraightRunsButNotMarkedOrBentOnes)
{
    // Flat ground, a straight way of 50 steps: only its ends stay.
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0), point(0, 100)}})));
    EXPECT_GE(gWayNetwork.segments[0]->positions.size(), 50u);
    Route thin{point(0, 0), point(0, 100)};
    thin[0].thinTolerance = 0.1f;
    ASSERT_TRUE(read(bytesOf({thin})));
    EXPECT_EQ(gWayNetwork.segments[0]->positions.size(), 2u);
    // A bend keeps its cross-sections.
    Route bend{point(0, 0), point(0, 100), point(100, 100)};
    bend[0].thinTolerance = 0.1f;
    ASSERT_TRUE(read(bytesOf({bend})));
    EXPECT_GT(gWayNetwork.segments[0]->positions.size(), 10u);

    // Marks decide before the line does: a kept cross-section stays, a
    // dropped one goes even off the line.
    read(bytesOf({thin}));
    ::Way::Segment& s = *gWayNetwork.segments[0];
    s.positions.clear();
    for (int i = 0; i <= 10; ++i) {
        ::Way::Pos pos;
        ::Way::Segment::crossSectionAt(pos, s, float(i) / 10.0f);
        s.positions.push_back(pos);
    }
    s.positions[4].keep = 1;
    s.positions[7].drop = 1;
    s.positions[7].left.x += 30.0f;
    s.fitToGround();
    // 4 is kept; 6 stays beside 7, which lay off the line until it went.
    std::vector<float> left;
    for (const ::Way::Pos& pos : s.positions)
        left.push_back(pos.t);
    EXPECT_EQ(left, (std::vector<float>{0.0f, 0.4f, 0.6f, 1.0f}));
}

TEST_F(WayCurve, GroundFittingFollowsTheTerrainAwayFromJunctions)
{
    // Ground rising along x by 0.5 height units per grid sample (3 world
    // units of height for every 24 units along x).
    ASSERT_TRUE(loadGround(TerrainTestMaps::heightMap(128, [](int32_t i, int32_t) { return 20000.0f + 128.0f * i; })));
    // Across the slope: the higher edge sets the height.
    Route across{point(-100, 0), point(100, 0), point(100, 100)};
    ASSERT_TRUE(read(bytesOf({across})));
    for (const ::Way::Pos& pos : gWayNetwork.segments[1]->positions) {
        const float ground = std::max(::Way::groundHeight(pos.left.x, pos.left.z), ::Way::groundHeight(pos.right.x, pos.right.z));
        EXPECT_NEAR(pos.left.y, ground + 0.2f, 0.001f);
        EXPECT_EQ(pos.left.y, pos.right.y);
    }
    // The road's height at a point: the higher of its edges' ground there,
    // at the start of its segment and at the end of a list.
    const ::Way::PointNode* corner = gWayNetwork.ways.head()->item->head()->next;
    const std::vector<::Way::Pos>& fitted = gWayNetwork.segments[1]->positions;
    EXPECT_NEAR(::Way::wayHeightAtNode(corner), fitted.front().left.y, 0.001f);
    EXPECT_NEAR(::Way::wayHeightAtNode(corner->next), fitted.back().left.y, 0.01f);
    // A branch leaves at (0, 0): the segments there blend between their ends,
    // the branch starting at the height of the way it hangs from.
    Route branch{point(0, 0), point(0, 60), point(0, 120)};
    Route main{point(-100, 0), point(0, 0), point(100, 0)};
    main[1].branches.push_back(branch);
    ASSERT_TRUE(read(bytesOf({main})));
    const ::Way::Segment& first = *gWayNetwork.segments[2];
    ASSERT_EQ(first.startPoint().position, vec3d(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(first.followsGround(), 0u);
    const float atJunction = ::Way::wayHeightAtNode(gWayNetwork.ways.head()->item->head()->next);
    EXPECT_NEAR(first.positions[1].centre.y, atJunction, 0.01f);
    // Asked alone, a cross-section of it fits as the load fitted it.
    for (const ::Way::Pos& fitted : first.positions) {
        ::Way::Pos pos = fitted;
        pos.left.y = pos.right.y = -1000.0f;
        ::Way::Segment::groundCrossSectionAt(pos, first, 0);
        EXPECT_EQ(pos.centre.y, fitted.centre.y);
    }
    EXPECT_EQ(gWayNetwork.segments[3]->followsGround(), 1u);
}

}
