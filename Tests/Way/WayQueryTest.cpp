// Where points lie relative to the ways: the edge distance against brute
// force, the hollows and tints against the single-point lookup, the terrain
// lowered under hollow tracks from any thread, and the opponents' paths.
#include "WayTestFiles.h"

#include "Landscape/Terrain.h"

#include <atomic>
#include <random>
#include <thread>

namespace {

using namespace WayTestFiles;

class WayQuery : public Network
{
};

float pieceDistance(float px, float pz, const vec3d& a, const vec3d& b)
{
    const float dx = b.x - a.x, dz = b.z - a.z;
    const float lengthSq = dx * dx + dz * dz;
    float t = lengthSq > 0.0f ? ((px - a.x) * dx + (pz - a.z) * dz) / lengthSq : 0.0f;
    t = t < 0.0f ? 0.0f : t > 1.0f ? 1.0f : t;
    const float ex = a.x + t * dx - px, ez = a.z + t * dz - pz;
    return std::sqrt(ex * ex + ez * ez);
}

// The outline of a segment: its left edge from first to last cross-section,
// its right edge back. Whether (x, z) lies inside it, and how far from the
// nearer edge polyline and from the whole outline.
struct BruteForce
{
    bool inside = false;
    float edge = 0.0f;
    float outline = 0.0f;
};

BruteForce bruteForce(const ::Way::Segment& s, float x, float z)
{
    std::vector<vec3d> ring;
    for (const ::Way::Pos& p : s.positions)
        ring.push_back(p.left);
    for (size_t i = s.positions.size(); i-- > 0;)
        ring.push_back(s.positions[i].right);
    BruteForce r;
    r.edge = r.outline = FLT_MAX;
    float left = FLT_MAX, right = FLT_MAX;
    for (size_t i = 0; i + 1 < s.positions.size(); ++i) {
        left = std::min(left, pieceDistance(x, z, s.positions[i].left, s.positions[i + 1].left));
        right = std::min(right, pieceDistance(x, z, s.positions[i].right, s.positions[i + 1].right));
    }
    r.edge = std::min(left, right);
    for (size_t i = 0; i < ring.size(); ++i) {
        const vec3d& a = ring[i];
        const vec3d& b = ring[(i + 1) % ring.size()];
        r.outline = std::min(r.outline, pieceDistance(x, z, a, b));
        if ((a.z > z) != (b.z > z) && x < a.x + (z - a.z) * (b.x - a.x) / (b.z - a.z))
            r.inside = !r.inside;
    }
    return r;
}

// A way of gently bending segments: a random walk of points.
Route randomWay(std::mt19937& random, const wchar_t* modeler)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Route route;
    float x = 0.0f, z = 0.0f, heading = unit(random) * 6.283f;
    const int points = 3 + int(random() % 4);
    for (int i = 0; i < points; ++i) {
        Point p = point(x, z, modeler, 6.0f + 20.0f * unit(random));
        p.stepsPerLength = 0.3f + unit(random);
        route.push_back(p);
        heading += (unit(random) - 0.5f) * 1.2f;
        const float length = 30.0f + 60.0f * unit(random);
        x += length * std::cos(heading);
        z += length * std::sin(heading);
    }
    return route;
}

TEST_F(WayQuery, ProjectPointAgainstTheEdgePolylines)
{
    std::mt19937 random(4711);
    int insideCount = 0, outsideCount = 0;
    for (int round = 0; round < 25; ++round) {
        ASSERT_TRUE(read(bytesOf({randomWay(random, L"TerrainHollow1")})));
        for (const ::Way::Segment* s : gWayNetwork.segments) {
            const BoundingBox& box = s->bounds;
            std::uniform_real_distribution<float> px(box.minimum.x - 5.0f, box.maximum.x + 5.0f);
            std::uniform_real_distribution<float> pz(box.minimum.z - 5.0f, box.maximum.z + 5.0f);
            for (int k = 0; k < 200; ++k) {
                const float x = px(random), z = pz(random);
                const BruteForce expected = bruteForce(*s, x, z);
                // Near the outline the two may disagree by rounding.
                if (expected.outline < 0.05f)
                    continue;
                uint32_t inside = 7;
                float along = -1.0f;
                const float d = s->projectPoint(x, z, inside, along, nullptr);
                if (expected.inside) {
                    ++insideCount;
                    ASSERT_EQ(inside, 1u) << x << ", " << z;
                    // The edge lines beside the nearest cross-section stand in
                    // for the polyline: on the outside of a bend they pass a
                    // little closer, by some hundredths of the distance.
                    EXPECT_NEAR(d, expected.edge, 0.1f + 0.06f * expected.edge) << x << ", " << z;
                    EXPECT_GE(along, 0.0f);
                    EXPECT_LE(along, 1.0f);
                } else {
                    ++outsideCount;
                    EXPECT_EQ(inside, 0u) << x << ", " << z;
                    EXPECT_EQ(d, ::Way::Segment::outside);
                }
            }
        }
    }
    EXPECT_GT(insideCount, 1000);
    EXPECT_GT(outsideCount, 1000);
}

TEST_F(WayQuery, TheIndexFindsWhatTheCrossSectionsSay)
{
    // The halfway planes and kept edge lengths against the distances worked
    // out from the cross-sections themselves.
    std::mt19937 random(31);
    int compared = 0;
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(read(bytesOf({randomWay(random, L"TerrainHollow1")})));
        for (::Way::Segment* s : gWayNetwork.segments) {
            std::uniform_real_distribution<float> px(s->bounds.minimum.x, s->bounds.maximum.x);
            std::uniform_real_distribution<float> pz(s->bounds.minimum.z, s->bounds.maximum.z);
            std::vector<std::pair<float, float>> points;
            std::vector<float> indexed;
            std::vector<uint32_t> indexedInside;
            for (int k = 0; k < 300; ++k) {
                points.push_back({px(random), pz(random)});
                uint32_t inside = 0;
                float along = 0.0f;
                indexed.push_back(s->projectPoint(points.back().first, points.back().second, inside, along, nullptr));
                indexedInside.push_back(inside);
            }
            const std::vector<float> halfways = std::move(s->halfways), scales = std::move(s->edgeScales);
            s->halfways.clear();
            s->edgeScales.clear();
            for (size_t k = 0; k < points.size(); ++k) {
                uint32_t inside = 0;
                float along = 0.0f;
                const float d = s->projectPoint(points[k].first, points[k].second, inside, along, nullptr);
                EXPECT_EQ(inside, indexedInside[k]);
                if (inside && indexedInside[k]) {
                    EXPECT_NEAR(d, indexed[k], 0.001f + 0.0001f * d);
                    ++compared;
                }
            }
            s->halfways = halfways;
            s->edgeScales = scales;
        }
    }
    EXPECT_GT(compared, 1000);
}

TEST_F(WayQuery, HollowsAtTheirEdgesEndsAndMiddle)
{
    // A hollow 40 wide along z from (0, 0) to (0, 100): edges at x = -20, 20.
    Route route{point(0, 0, L"TerrainHollow1", 40.0f), point(0, 100, L"TerrainHollow1", 40.0f)};
    route[0].colour[0] = 200; // blue
    route[1].colour[0] = 100;
    route[0].colour[1] = route[1].colour[1] = 0;  // green
    route[0].colour[2] = route[1].colour[2] = 80; // red
    ASSERT_TRUE(read(bytesOf({route})));
    const ::Way::Segment& s = *gWayNetwork.segments[0];
    // Its box spans the edges and reaches 64 below them.
    EXPECT_NEAR(s.bounds.minimum.x, -20.0f, 0.01f);
    EXPECT_NEAR(s.bounds.maximum.x, 20.0f, 0.01f);
    EXPECT_NEAR(s.bounds.minimum.y, 0.2f - 64.0f, 0.01f);
    const struct
    {
        float x, z, lowered;
    } cases[] = {
        {0.0f, 50.0f, 9.0f},     // the middle: 20 from the edges
        {3.3f, 50.0f, 9.0f},     // 16.7 from the edge: the full depth
        {15.0f, 50.0f, 2.7f},    // 5 from the edge
        {-15.0f, 30.0f, 2.7f},   // the other side
        {19.99f, 50.0f, 0.0054f}, // at the edge
        {25.0f, 50.0f, 0.0f},    // beside it
    };
    for (const auto& c : cases) {
        float height = 100.0f;
        gWayNetwork.applyHollow(c.x, c.z, height);
        EXPECT_NEAR(100.0f - height, c.lowered, 0.01f) << c.x << ", " << c.z;
        EXPECT_EQ(gWayNetwork.isOnWay(c.x, c.z), c.lowered > 0.0f ? 1u : 0u) << c.x << ", " << c.z;
    }
    // Before the first cross-section and after the last a point is off the
    // segment, between its edges or not.
    for (float z : {-0.5f, 100.5f}) {
        uint32_t inside = 7;
        float along = 0.0f;
        EXPECT_EQ(s.projectPoint(0.0f, z, inside, along, nullptr), ::Way::Segment::outside);
        EXPECT_EQ(inside, 0u);
    }
    // The box's borders are outside it.
    EXPECT_EQ(gWayNetwork.findSegmentAt({0.0f, 50.0f}), gWayNetwork.ways.head()->item);
    EXPECT_EQ(gWayNetwork.findSegmentAt({s.bounds.maximum.x, 50.0f}), nullptr);
    // Across a cross-section: 0 at its left edge, 1 at its right.
    ::Way::Pos pos;
    uint32_t inside = 0;
    float along = 0.0f;
    s.projectPoint(0.0f, 50.0f, inside, along, &pos);
    EXPECT_NEAR(along, 0.5f, 0.05f);
    EXPECT_FLOAT_EQ(wayDistanceRatio(pos.right, pos), 1.0f);
    EXPECT_FLOAT_EQ(wayDistanceRatio(pos.left, pos), 0.0f);

    // The tint: the colour between the two points' colours by the place
    // along the way, weighed by the depth; cells beside the way keep theirs.
    uint16_t colours[16][16] = {};
    colours[15][0] = 0x1234;
    const BoundingBox box{{}, 1.0f, 1.0f, {-15.0f, -10.0f, 0.0f}, {60.0f, 10.0f, 75.0f}};
    gWayNetwork.weightNearWays(colours, box);
    // Cell (3, 10) lies at (0, 50): 20 in, half way along.
    EXPECT_EQ(colours[3][10], uint16_t(int((80 >> 3) * 0.65f) << 11 | int((150 >> 3) * 0.65f)));
    EXPECT_EQ(colours[15][0], 0x1234);
    EXPECT_EQ(colours[0][0], 0);

    // Another file read: the lookup forgets the segment it found last.
    float kept = 100.0f;
    gWayNetwork.applyHollow(0.0f, 50.0f, kept);
    ASSERT_LT(kept, 100.0f);
    ASSERT_TRUE(read(bytesOf({Route{point(500, 0, L"TerrainHollow1"), point(500, 100, L"TerrainHollow1")}})));
    kept = 100.0f;
    gWayNetwork.applyHollow(0.0f, 50.0f, kept);
    EXPECT_EQ(kept, 100.0f);
}

// Two hollows 40 wide along z, 15 apart, overlapping: where a point lies in
// both, the deeper lowers it, whichever segment a lookup found last and in
// the grid as in the single lookup. At x 12 a point lies 8 in from the
// first's edge (lowered by 9 x 0.06 x 8) and 17 in from the second's
// (lowered by the full 9); at x 4, 16 and 9 in.
TEST_F(WayQuery, OverlappingHollowsLowerByTheDeeper)
{
    ASSERT_TRUE(read(bytesOf({Route{point(0, 0, L"TerrainHollow1", 40.0f), point(0, 100, L"TerrainHollow1", 40.0f)},
                              Route{point(15, 0, L"TerrainHollow1", 40.0f), point(15, 100, L"TerrainHollow1", 40.0f)}})));
    ASSERT_EQ(gWayNetwork.hollowSegments.size(), 2u);
    const struct
    {
        float x, lowered;
    } cases[] = {{-10.0f, 5.4f}, {-18.0f, 1.08f}, {12.0f, 9.0f}, {30.0f, 2.7f}, {4.0f, 8.64f}};
    for (const float first : {-10.0f, 30.0f}) // the last segment found: the one or the other
        for (const auto& c : cases) {
            float primed = 100.0f;
            gWayNetwork.applyHollow(first, 50.0f, primed);
            float height = 100.0f;
            gWayNetwork.applyHollow(c.x, 50.0f, height);
            EXPECT_NEAR(100.0f - height, c.lowered, 0.01f) << c.x << " after " << first;
        }
    float grid[33][33];
    for (auto& row : grid)
        for (float& h : row)
            h = 100.0f;
    const BoundingBox box{{}, 1.0f, 1.0f, {-20.0f, -10.0f, 34.0f}, {44.0f, 10.0f, 66.0f}};
    gWayNetwork.hollowHeightGrid(grid, box);
    for (int i = 0; i <= 32; ++i)
        for (int k = 0; k <= 32; ++k) {
            float height = 100.0f;
            gWayNetwork.applyHollow(float(i) * 2.0f - 20.0f, float(k) + 34.0f, height);
            ASSERT_EQ(grid[i][32 - k], height) << i << ", " << k;
        }
    EXPECT_NEAR(100.0f - grid[16][16], 9.0f, 1e-4f) << "x 12";
}

TEST_F(WayQuery, TheGridsMatchTheSinglePointLookupCellByCell)
{
    std::mt19937 random(99);
    std::uniform_real_distribution<float> offset(-60.0f, 60.0f);
    int lowered = 0;
    for (int round = 0; round < 12; ++round) {
        ASSERT_TRUE(read(bytesOf({randomWay(random, L"TerrainHollow1")})));
        for (const ::Way::Segment* s : gWayNetwork.segments)
            for (int b = 0; b < 4; ++b) {
                // A patch-sized box somewhere over the segment.
                const float x0 = s->bounds.center.x + offset(random), z0 = s->bounds.center.z + offset(random);
                const BoundingBox box{{}, 1.0f, 1.0f, {x0 - 48.0f, -500.0f, z0 - 48.0f}, {x0 + 48.0f, 500.0f, z0 + 48.0f}};
                float grid[33][33];
                for (auto& row : grid)
                    for (float& h : row)
                        h = 50.0f;
                gWayNetwork.hollowHeightGrid(grid, box);
                const float width = box.maximum.x - box.minimum.x, depth = box.maximum.z - box.minimum.z;
                for (int i = 0; i <= 32; ++i)
                    for (int k = 0; k <= 32; ++k) {
                        const float x = float(i) / 32.0f * width + box.minimum.x;
                        const float z = float(k) / 32.0f * depth + box.minimum.z;
                        // The deepest hollow of the segments that hold the point.
                        float expected = 50.0f;
                        for (const ::Way::Segment* t : gWayNetwork.hollowSegments) {
                            const BoundingBox& b = t->bounds;
                            if (!(b.minimum.x < x && x < b.maximum.x && b.minimum.z < z && z < b.maximum.z))
                                continue;
                            uint32_t inside = 0;
                            float along = 0.0f;
                            const float d = t->projectPoint(x, z, inside, along, nullptr);
                            if (inside)
                                expected = std::min(expected, 50.0f - 9.0f * std::min(1.0f, 0.06f * d));
                        }
                        ASSERT_EQ(grid[i][32 - k], expected) << i << ", " << k;
                        lowered += expected < 50.0f;
                        // The single lookup agrees, whichever segment it found last.
                        float height = 50.0f;
                        gWayNetwork.applyHollow(x, z, height);
                        ASSERT_EQ(height, expected) << i << ", " << k;
                    }
            }
    }
    EXPECT_GT(lowered, 2000);
    // A box beside every way changes nothing.
    float grid[33][33] = {};
    gWayNetwork.hollowHeightGrid(grid, BoundingBox{{}, 1, 1, {5000, -500, 5000}, {5096, 500, 5096}});
    EXPECT_EQ(grid[16][16], 0.0f);
}

// Flat ground with the sample's dirt track and a course of roads.
class WayGround : public WayQuery
{
protected:
    void SetUp() override
    {
        WayQuery::SetUp();
        ASSERT_TRUE(loadGround(TerrainTestMaps::heightMap(256, [](int32_t, int32_t) { return 12800.0f; })));
        ASSERT_TRUE(read(bytesOf(WaySamples::valley([](float x, float z) { return groundHeight(x, z); }))));
    }
    static float groundHeight(float x, float z) { return gTerrain.getHeight(x, z, 3); }
};

TEST_F(WayGround, TheTerrainSinksUnderTheTrackFromEveryThread)
{
    const ::Way::Segment* track = gWayNetwork.hollowSegments[3];
    const vec3d centre = track->positions[track->positions.size() / 2].centre;
    // 50 height units of ground, lowered at the corners of the fine cell
    // the track's middle lies in (its middle half its width in): the ground
    // there lies between them, as the grid's triangles draw it.
    const float in = track->startPoint().width * 0.5f;
    const float cell = 3.0f, x0 = std::floor(centre.x / cell) * cell, z0 = std::floor(centre.z / cell) * cell;
    float lowest = 1e30f, highest = -1e30f;
    for (const float x : {x0, x0 + cell})
        for (const float z : {z0, z0 + cell}) {
            float corner = 50.0f;
            gWayNetwork.applyHollow(x, z, corner);
            lowest = std::min(lowest, corner * 1.75f);
            highest = std::max(highest, corner * 1.75f);
        }
    const float middle = gTerrain.getHeight(centre.x, centre.z, 3);
    EXPECT_GE(middle, lowest - 0.001f);
    EXPECT_LE(middle, highest + 0.001f);
    EXPECT_LT(highest, (50.0f - 9.0f * 0.06f * (in - 3.0f)) * 1.75f) << "sunk";
    EXPECT_NEAR(gTerrain.getHeight(centre.x + 100.0f, centre.z, 3), 50.0f * 1.75f, 0.01f);
    // At resolution 0 the ground keeps its shape.
    EXPECT_NEAR(gTerrain.getHeight(centre.x, centre.z, 0), 50.0f * 1.75f, 0.01f);

    // Heights over the whole track, first on this thread, then from two
    // threads at once: the same, bit for bit.
    std::vector<vec2d> points;
    for (float x = -1000.0f; x < -300.0f; x += 7.3f)
        for (float z = -1800.0f; z < 1600.0f; z += 13.1f)
            points.push_back({x, z});
    std::vector<float> single;
    for (const vec2d& p : points)
        single.push_back(gTerrain.getHeight(p.x, p.y, 3));
    std::vector<float> results[2];
    auto query = [&](int which) {
        for (size_t n = 0; n < points.size(); ++n) {
            // The two threads walk in opposite orders.
            const size_t i = which ? points.size() - 1 - n : n;
            results[which].push_back(gTerrain.getHeight(points[i].x, points[i].y, 3));
        }
        if (which)
            std::reverse(results[which].begin(), results[which].end());
    };
    std::thread first(query, 0), second(query, 1);
    first.join();
    second.join();
    EXPECT_EQ(results[0], single);
    EXPECT_EQ(results[1], single);
    int sunk = 0;
    for (float h : single)
        sunk += h < 50.0f * 1.75f - 0.01f;
    EXPECT_GT(sunk, 200);
}

TEST_F(WayGround, QueriesFromAnotherThreadWhileTheWaysAreReplaced)
{
    // The sample as it stands now (its points' heights on the sunk ground).
    const std::vector<uint8_t> sample = bytesOf(WaySamples::valley([](float x, float z) { return groundHeight(x, z); }));
    ASSERT_TRUE(read(sample));
    const ::Way::Segment* track = gWayNetwork.hollowSegments[3];
    const vec3d centre = track->positions[track->positions.size() / 2].centre;
    float sunkHeight = 0.0f;
    gWayNetwork.applyHollow(centre.x, centre.z, sunkHeight);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, asked{0};
    std::thread asker([&] {
        while (!stop.load()) {
            float height = 0.0f;
            gWayNetwork.applyHollow(centre.x, centre.z, height);
            float grid[33][33] = {};
            const BoundingBox box{{}, 1, 1, {centre.x - 48, -500, centre.z - 48}, {centre.x + 48, 500, centre.z + 48}};
            gWayNetwork.hollowHeightGrid(grid, box);
            // Either the ways are there or they are not: never anything else.
            if (height != 0.0f && height != sunkHeight)
                ++wrong;
            if (grid[16][16] != 0.0f && grid[16][16] > -1.0f)
                ++wrong;
            ++asked;
        }
    });
    for (int round = 0; round < 30; ++round) {
        gWayNetwork.clearWays();
        ASSERT_TRUE(read(sample));
    }
    while (asked.load() < 50)
        Sleep(1);
    stop = true;
    asker.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(WayGround, OpponentPathsAlongTheCourse)
{
    const ::Way::PointList& course = *gWayNetwork.ways.head()->item;
    // From the course's fifth point to a target ahead on the east straight.
    const ::Way::PointNode* start = course.head()->next->next->next->next;
    const vec3d position = start->item->position;
    const vec3d target{WaySamples::eastX, 0.0f, 320.0f};
    std::vector<::Way::Pos> path;
    const uint32_t count = WayNetwork::findSegmentNear(position, start, target, 30.0f * 30.0f, path);
    ASSERT_EQ(count, path.size());
    ASSERT_GT(count, 5u);
    vec3d last = position;
    for (const ::Way::Pos& p : path) {
        EXPECT_GT((p.centre - last).lengthSq(), 900.0f);
        EXPECT_GT((p.centre - target).lengthSq(), 900.0f);
        last = p.centre;
    }
    // It runs up the west straight and down the east one, stopping short of
    // the target.
    EXPECT_GT(path.back().centre.z, target.z);
    EXPECT_NEAR(path.back().centre.x, WaySamples::eastX, 1.0f);
    // A target behind: the walk goes backwards.
    path.clear();
    const vec3d behind{WaySamples::westX, 0.0f, -700.0f};
    ASSERT_GT(WayNetwork::findSegmentNear(position, start, behind, 30.0f * 30.0f, path), 0u);
    EXPECT_LT(path.back().centre.z, position.z);
    // A target on no segment of the list finds nothing, and ends.
    path.clear();
    EXPECT_EQ(WayNetwork::findSegmentNear(position, start, {5000.0f, 0.0f, 5000.0f}, 900.0f, path), 0u);
    EXPECT_EQ(WayNetwork::findSegmentNear(position, nullptr, target, 900.0f, path), 0u);
}

TEST_F(WayQuery, PathSearchFindsEverySegmentOfTheList)
{
    // Seven points, the last without a segment: from point 4 the segment of
    // point 2 is met only when the forward search stands on the last point;
    // it is still found, backwards.
    Route route;
    for (int i = 0; i < 7; ++i)
        route.push_back(point(0.0f, 40.0f * float(i)));
    ASSERT_TRUE(read(bytesOf({route})));
    const ::Way::PointNode* start = gWayNetwork.ways.head()->item->head();
    for (int i = 0; i < 4; ++i)
        start = start->next;
    std::vector<::Way::Pos> path;
    EXPECT_GT(WayNetwork::findSegmentNear({0, 0, 170}, start, {0.0f, 0.0f, 100.0f}, 1.0f, path), 0u);
}

}
