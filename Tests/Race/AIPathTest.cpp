// The opponent's path: its points by hand (builds, marks, passing, the
// curve's ends), the distance to the curve against a dense brute force, and
// the bypasses around walls of crates on flat generated ground.
#include "../Landscape/TerrainTestMaps.h"
#include "../Application/AppTestFiles.h"

#include "Race/AIPath.h"
#include "Race/Game.h"
#include "Race/RaceClock.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Render/SwapChain.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "MeshSamples.h"
#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

using Path = ObjPkgManager::Functions::Path;

// Flat ground 20000 map units high over the whole test area.
struct FlatGround
{
    FlatGround()
    {
        EXPECT_TRUE(
            TerrainTestMaps::loadGlobal(TerrainTestMaps::heightMap(512, [](int32_t, int32_t) { return 20000.0f; })));
        origin = gTerrain.box.minimum + vec3d(100.0f, 0.0f, 100.0f);
        origin.y = height();
        gFrameFactor = 1.0f;
    }
    ~FlatGround() { gTerrain.clear(); }
    static float height() { return gTerrain.getHeight(gTerrain.box.center.x, gTerrain.box.center.z, 3); }
    // A point (x, z) from the origin on the ground.
    vec3d at(float x, float z) const { return origin + vec3d(x, 0.0f, z); }
    vec3d origin;
};

int tag[4];

std::vector<uint32_t> typesOf(const Path& path)
{
    std::vector<uint32_t> types;
    for (int32_t i = 0; i < path.count; ++i)
        types.push_back(path.points[i].type);
    return types;
}

float crossLength(const vec3d& a, const vec3d& b)
{
    return a.normalised().cross(b.normalised()).length();
}

}

// The build's points, passing them, the marks of a far target, the curve's
// ends and the bend, on hand-picked positions.
TEST(AIPath, PointsByHand)
{
    FlatGround ground;
    auto path = std::make_unique<Path>(nullptr);
    EXPECT_EQ(path->currentPoint(), nullptr);
    EXPECT_EQ(path->bendAngle(), 0.0f);
    EXPECT_EQ(path->distanceSquaredTo(ground.at(0, 0)), 0.0f);

    // A far approach point: start, a mark 350 along and one 700 along, no
    // target.
    const vec3d start = ground.at(0, 0), west(-1.0f, 0.0f, 0.0f);
    ASSERT_TRUE(path->build(nullptr, start, &tag[0], ground.at(800, 0), ground.at(920, 0), west, 4, false,
                            nullptr, 0.5f));
    EXPECT_EQ(typesOf(*path), (std::vector<uint32_t>{1, 9, 10}));
    EXPECT_NEAR(path->points[1].position.x - start.x, 350.0f, 1e-3f);
    EXPECT_NEAR(path->points[2].position.x - start.x, 700.0f, 1e-3f);
    for (int32_t i = 0; i < path->count; ++i)
        EXPECT_NEAR(path->points[i].position.y, FlatGround::height() + 2.0f, 1e-3f) << i;
    EXPECT_FALSE(path->build(nullptr, start, &tag[0], ground.at(800, 0), ground.at(920, 0), west, 4, false,
                             nullptr, 0.5f))
        << "the same target without force";
    EXPECT_EQ(path->count, 3);

    // A point counts as passed within 40 units before its plane, not at 41.
    EXPECT_FALSE(path->updatePassed(ground.at(300, 0)));
    EXPECT_EQ(path->points[0].passed, 1u) << "the start is passed where it is";
    EXPECT_EQ(path->points[1].passed, 0u);
    EXPECT_FALSE(Path::isPointPassed(ground.at(350, 0), west, ground.at(309, 0)));
    EXPECT_TRUE(Path::isPointPassed(ground.at(350, 0), west, ground.at(311, 0)));
    EXPECT_TRUE(Path::isPointPassed(ground.at(350, 0), west, ground.at(400, 5)));
    EXPECT_TRUE(path->updatePassed(ground.at(311, 0))) << "a mark asks for a new build";
    EXPECT_EQ(path->targetId, nullptr);
    EXPECT_TRUE(path->build(nullptr, ground.at(311, 0), &tag[0], ground.at(800, 0), ground.at(920, 0), west, 4,
                            false, nullptr, 0.5f));

    // A near target: start, approach point, target; beyond the end the
    // distance is 0, and on each of its points; the first segment leaves
    // along the chord.
    ASSERT_TRUE(path->build(nullptr, start, &tag[1], ground.at(80, 40), ground.at(200, 40), west, 4, false,
                            nullptr, 0.5f));
    EXPECT_EQ(typesOf(*path), (std::vector<uint32_t>{1, 3, 4}));
    EXPECT_EQ(path->distanceSquaredTo(ground.at(400, 40)), 0.0f);
    for (int32_t i = 0; i < path->count; ++i)
        EXPECT_EQ(path->distanceSquaredTo(path->points[i].position), 0.0f) << "point " << i << " lies on the path";
    const float beside = path->distanceSquaredTo(ground.at(10, -10));
    EXPECT_GT(beside, 0.0f);
    EXPECT_LT(beside, 16.0f * 16.0f);
    const Path::Curve first = path->segmentControlPoints(0);
    EXPECT_LT(crossLength(first.c1 - first.p0, first.p3 - first.p0), 1e-4f);
    EXPECT_NEAR((first.c1 - first.p0).length(), (first.p3 - first.p0).length() / 3.0f, 1e-2f);
    const float bend = path->bendAngle();
    const vec3d a = path->points[1].position - path->points[0].position;
    const vec3d b = path->points[2].position - path->points[1].position;
    EXPECT_NEAR(bend, std::acos(a.dot(b) / (a.length() * b.length())) * 57.29578f, 1e-2f);

    // The approach point already passed from the start, or the same as the
    // target, is left out; a target kind of its own keeps its type.
    ASSERT_TRUE(path->build(nullptr, start, &tag[2], ground.at(-20, 0), ground.at(100, 0), west, 8, true,
                            nullptr, 0.5f));
    EXPECT_EQ(typesOf(*path), (std::vector<uint32_t>{1, 8}));
    ASSERT_TRUE(path->build(nullptr, start, &tag[2], ground.at(100, 0), ground.at(100, 0), west, 5, true,
                            nullptr, 0.5f));
    EXPECT_EQ(typesOf(*path), (std::vector<uint32_t>{1, 5}));

    // A pick-up on the way: its point comes first and is passed from the
    // start's side; a refresh moves the first unpassed point of a type.
    const vec3d pickUp = ground.at(100, 30);
    ASSERT_TRUE(path->build(&pickUp, start, &tag[3], ground.at(300, 0), ground.at(300, 0), west, 4, true,
                            nullptr, 0.5f));
    EXPECT_EQ(typesOf(*path), (std::vector<uint32_t>{1, 6, 4}));
    const vec3d back = (start - pickUp).normalised();
    EXPECT_NEAR(path->points[1].direction.x, back.x, 1e-4f);
    EXPECT_NEAR(path->points[1].direction.z, back.z, 1e-4f);
    path->setPointOfType(1, ground.at(1, 0));
    EXPECT_EQ(path->points[0].position.x, ground.at(1, 0).x) << "the first point is refreshed too";
    path->updatePassed(ground.at(40, 10));
    EXPECT_FALSE(path->detourPassed());
    path->updatePassed(ground.at(150, 40));
    EXPECT_TRUE(path->detourPassed());
    path->setPointOfType(4, ground.at(310, 5));
    EXPECT_EQ(path->points[2].position.x, ground.at(310, 5).x);
    path->setPointOfType(6, ground.at(0, 0));
    EXPECT_EQ(path->points[1].position.x, pickUp.x) << "a passed point keeps its place";

    // Bends: a right angle is 90; coincident points give 0, never NaN.
    struct BendCase
    {
        std::vector<vec3d> points;
        float degrees;
    };
    const BendCase bends[] = {
        {{ground.at(0, 0), ground.at(100, 0), ground.at(100, 100)}, 90.0f},
        {{ground.at(0, 0), ground.at(100, 0), ground.at(200, 0)}, 0.0f},
        {{ground.at(0, 0), ground.at(0, 0), ground.at(100, 0)}, 0.0f},
        {{ground.at(0, 0), ground.at(100, 0), ground.at(100, 0)}, 0.0f},
        {{ground.at(0, 0), ground.at(100, 0), ground.at(0, 0)}, 180.0f},
    };
    for (const BendCase& c : bends) {
        path->count = 0;
        for (const vec3d& p : c.points)
            path->insertPoint(path->count, p);
        const float degrees = path->bendAngle();
        EXPECT_TRUE(std::isfinite(degrees));
        EXPECT_NEAR(degrees, c.degrees, 0.05f);
        EXPECT_TRUE(std::isfinite(path->distanceSquaredTo(ground.at(50, 10))));
    }

    // The path never holds more than 200 points.
    path->count = 0;
    for (int i = 0; i < 250; ++i)
        path->insertPoint(path->count, ground.at(float(i), 0));
    EXPECT_EQ(path->count, Path::maxPoints);
    EXPECT_FALSE(path->insertPoint(3, ground.at(0, 5)));
    EXPECT_FALSE(path->insertPoint(-1, ground.at(0, 5)));
    // Removing a point past the last, or before the first, removes none.
    for (const int32_t index : {Path::maxPoints, -1}) {
        path->removePoint(index);
        EXPECT_EQ(path->count, Path::maxPoints) << index;
    }
}

// A route along the road: one point across the road per kept cross-section
// at the lane asked for, a pick-up between two of them, and no more than
// 200 points on a road of thousands of cross-sections.
TEST(AIPath, RoutesAlongTheRoad)
{
    FlatGround ground;
    // A straight road along x, 20 wide, split in segments of 100.
    // From x on, the origin's by default.
    auto roadOf = [&](int segments, int crossSections, float length, float x = 0.0f) {
        auto* list = new Way::PointList;
        for (int i = 0; i <= segments; ++i) {
            auto* point = new Way::Point;
            point->position = ground.at(x + float(i) * length, 0.0f);
            point->width = 20.0f;
            list->append(point);
        }
        for (Way::PointNode* node = list->head(); node && node->next; node = node->next) {
            node->item->segment = new Way::Segment(node, node->next, nullptr);
            node->item->segment->positions.resize(size_t(crossSections) + 1);
            for (int i = 0; i <= crossSections; ++i)
                Way::Segment::crossSectionAt(node->item->segment->positions[size_t(i)], *node->item->segment,
                                             float(i) / float(crossSections));
            node->item->segment->indexCrossSections();
        }
        return list;
    };
    // Sixteen segments: the target is nearer forwards than round the end.
    Way::PointList* road = roadOf(16, 10, 100.0f);
    Path path(nullptr);
    const vec3d west(-1.0f, 0.0f, 0.0f);
    ASSERT_TRUE(path.build(nullptr, ground.at(5, 0), &tag[0], ground.at(750, 0), ground.at(750, 0), west, 7, true,
                           road->head(), 0.25f));
    ASSERT_GE(path.count, 4);
    EXPECT_EQ(path.points[0].type, 1u);
    EXPECT_EQ(path.points[path.count - 1].type, 7u);
    for (int32_t i = 1; i + 1 < path.count; ++i) {
        EXPECT_EQ(path.points[i].type, 2u);
        // A quarter across from the first edge, facing back along the road.
        const Way::Pos probe = [&] {
            Way::Pos c;
            Way::Segment::crossSectionAt(c, *road->head()->item->segment, 0.0f);
            return c;
        }();
        EXPECT_NEAR(path.points[i].position.z, probe.left.z * 0.75f + probe.right.z * 0.25f, 0.05f) << i;
        EXPECT_NEAR(path.points[i].direction.x, -1.0f, 1e-3f);
        if (i > 1)
            EXPECT_GT((path.points[i].position - path.points[i - 1].position).length(), 173.0f);
    }

    // The same road and start across the middle of the map, where the
    // world's axes cross: the same route, moved with them.
    {
        const float moved = -50.0f - ground.origin.x;
        Way::PointList* middle = roadOf(16, 10, 100.0f, moved);
        Path across(nullptr);
        ASSERT_TRUE(across.build(nullptr, ground.at(moved + 5.0f, 0), &tag[0], ground.at(moved + 750.0f, 0),
                                 ground.at(moved + 750.0f, 0), west, 7, true, middle->head(), 0.25f));
        ASSERT_EQ(typesOf(across), typesOf(path));
        for (int32_t i = 0; i < path.count; ++i) {
            EXPECT_NEAR(across.points[i].position.x - moved, path.points[i].position.x, 0.05f) << i;
            EXPECT_NEAR(across.points[i].position.z, path.points[i].position.z, 0.05f) << i;
        }
        Way::deletePointList(middle);
    }

    // A pick-up between two kept cross-sections is fetched on the way: it
    // takes the place of those within half the spacing of it along the road,
    // and the route keeps the others, before it and after it, all in order
    // along the road. A second build at once is refused.
    std::vector<float> lanes;
    for (int32_t i = 0; i < path.count; ++i)
        if (path.points[i].type == 2u)
            lanes.push_back(path.points[i].position.x);
    const float halfSpacing = 0.5f * std::sqrt(Path::routeSpacingSq);
    for (const float x : {150.0f, 250.0f, 330.0f, 400.0f}) {
        SCOPED_TRACE(x);
        const vec3d pickUp = ground.at(x, 5);
        ASSERT_TRUE(path.build(&pickUp, ground.at(5, 0), &tag[1], ground.at(750, 0), ground.at(750, 0), west, 7,
                               true, road->head(), 0.25f));
        std::vector<float> kept, wanted;
        for (const float lane : lanes)
            if (std::abs(lane - pickUp.x) > halfSpacing)
                wanted.push_back(lane);
        int pickUps = 0;
        for (int32_t i = 0; i < path.count; ++i) {
            const uint32_t type = path.points[i].type;
            pickUps += type == 6u ? 1 : 0;
            if (type == 2u)
                kept.push_back(path.points[i].position.x);
            if (i > 0)
                EXPECT_GT(path.points[i].position.x, path.points[i - 1].position.x) << "point " << i;
        }
        EXPECT_EQ(pickUps, 1);
        EXPECT_EQ(kept, wanted);
        EXPECT_FALSE(path.build(&pickUp, ground.at(5, 0), &tag[1], ground.at(750, 0), ground.at(750, 0), west, 7,
                                false, road->head(), 0.25f));
    }
    Way::deletePointList(road);

    // Without a road the route still ends at the target.
    ASSERT_TRUE(path.build(nullptr, ground.at(5, 0), &tag[2], ground.at(750, 0), ground.at(750, 0), west, 7, true,
                           nullptr, 0.5f));
    EXPECT_EQ(typesOf(path), (std::vector<uint32_t>{1, 7}));

    // 250 segments of 180 to the target, more than 200 points: the build
    // stops at 200.
    Way::PointList* longRoad = roadOf(500, 1, 180.0f);
    path.build(nullptr, ground.at(0, 0), &tag[3], ground.at(45090, 0), ground.at(45090, 0), west, 7, true,
               longRoad->head(), 0.5f);
    EXPECT_EQ(path.count, Path::maxPoints);
    Way::deletePointList(longRoad);
}

// A lane on the road's edge or beyond it (a start slot beside the road)
// keeps a margin inside the road; lanes inside it stay where they are.
TEST(AIPath, LanesStayInsideTheRoad)
{
    FlatGround ground;
    // A straight road along x, 20 wide, its left edge at z = -10.
    auto* road = new Way::PointList;
    for (int i = 0; i <= 8; ++i) {
        auto* point = new Way::Point;
        point->position = ground.at(float(i) * 100.0f, 0.0f);
        point->width = 20.0f;
        road->append(point);
    }
    for (Way::PointNode* node = road->head(); node && node->next; node = node->next) {
        node->item->segment = new Way::Segment(node, node->next, nullptr);
        node->item->segment->positions.resize(11);
        for (int i = 0; i <= 10; ++i)
            Way::Segment::crossSectionAt(node->item->segment->positions[size_t(i)], *node->item->segment,
                                         float(i) / 10.0f);
        node->item->segment->indexCrossSections();
    }
    Way::Pos first;
    Way::Segment::crossSectionAt(first, *road->head()->item->segment, 0.0f);
    // The road runs along x: its side is +z or -z.
    const vec3d side(0.0f, 0.0f, first.right.z > first.left.z ? 1.0f : -1.0f);
    // The lane across the road, from its middle (0) towards the right edge.
    struct Case
    {
        float lateral;
        float across;
    };
    const float inside = 10.0f - Path::laneMargin;
    const Case cases[] = {{0.5f, 0.0f}, {0.25f, -5.0f}, {0.9f, 8.0f}, {0.0f, -inside},
                          {1.0f, inside}, {1.4f, inside}, {-0.3f, -inside}};
    Path path(nullptr);
    const vec3d west(-1.0f, 0.0f, 0.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lateral);
        ASSERT_TRUE(path.build(nullptr, ground.at(5, 0), &tag[0], ground.at(650, 0), ground.at(650, 0), west, 7,
                               true, road->head(), c.lateral));
        ASSERT_GE(path.count, 3);
        for (int32_t i = 1; i + 1 < path.count; ++i)
            EXPECT_NEAR((path.points[i].position - ground.at(0, 0)).dot(side), c.across, 0.05f) << i;
    }
    Way::deletePointList(road);
}

// The distance to the curve, the first sample ahead of the position, lies
// within a sample's spacing of the nearest of dense samples along it.
TEST(AIPath, CurveDistanceAgainstDenseSamples)
{
    FlatGround ground;
    std::mt19937 random(51);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Path path(nullptr);
    int checked = 0;
    for (int round = 0; round < 200; ++round) {
        // A gently winding path of 3 to 6 points, 60 to 200 apart.
        path.count = 0;
        vec3d at = ground.at(200, 700);
        float heading = unit(random) * 6.283f;
        const int n = 3 + int(random() % 4);
        for (int i = 0; i < n; ++i) {
            path.insertPoint(path.count, at);
            heading += (unit(random) - 0.5f) * 1.2f;
            at = at + vec3d(std::cos(heading), 0.0f, std::sin(heading)) * (60.0f + 140.0f * unit(random));
        }
        // A position beside the middle of a segment.
        const int32_t s = int32_t(random() % uint32_t(path.count - 1));
        const Path::Curve curve = path.segmentControlPoints(s);
        const float t = 0.3f + 0.4f * unit(random);
        const vec3d on = curve.at(t);
        const vec3d tangent = (curve.at(t + 0.001f) - on).normalised();
        const vec3d side(-tangent.z, 0.0f, tangent.x);
        const vec3d position = on + side * ((unit(random) - 0.5f) * 30.0f);

        float nearest = 1e30f;
        for (int32_t i = 0; i + 1 < path.count; ++i) {
            const Path::Curve c = path.segmentControlPoints(i);
            for (int j = 0; j <= 4000; ++j)
                nearest = std::min(nearest, (c.at(float(j) / 4000.0f) - position).length());
        }
        const float spacing = (curve.p3 - curve.p0).length() / std::max(1.0f, std::floor((curve.p3 - curve.p0).length() / 5.0f));
        const float distance = std::sqrt(path.distanceSquaredTo(position));
        EXPECT_GE(distance + 1e-3f, nearest) << round;
        EXPECT_LE(distance, nearest + 1.6f * spacing) << round;
        ++checked;
    }
    EXPECT_EQ(checked, 200);
}

namespace {

struct NoCallbacks final : Game::Interface
{
    String getSettingNameGame() override { return String(L"Tester"); }
    Color getSettingCharGame() override { return Color(1, 2, 3, 255); }
    void saveSettings() override {}
};

// Flat ground with the builder's crates placed on it, and a crate far off
// as the driven object, whose box sizes the test boxes.
struct CrateYard : FlatGround
{
    CrateYard()
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"aipath");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(ObjectPackageSamples::save(String(folder.c_str())));
        EXPECT_TRUE(ObjectPackageWriter::save(fence(), String((folder + L"Objects\\Fence.teo").c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        Object* driven = crate(1000.0f, 1000.0f);
        if (driven && !driven->instance)
            driven->instance = driven->createInstance();
        object = driven ? dynamic_cast<DynObject*>(driven->instance) : nullptr;
        EXPECT_NE(object, nullptr);
    }
    ~CrateYard() { scene.release(); }
    // A fence of 20 overlapping posts 4 high, 1 apart along z, each a mesh
    // of its own.
    static ObjectPackageWriter::Package fence()
    {
        ObjectPackageWriter::Package p;
        for (int i = 0; i < 20; ++i) {
            PackagePartWriter::Mesh m;
            m.body = MeshSamples::record();
            m.name = m.displayName = "Post" + std::to_string(i);
            m.position = {0.0f, 2.0f, float(i) - 9.5f};
            m.scale = 4.0f;
            p.meshes.push_back(m);
        }
        p.functions = FunctionsRecordWriter::Record{};
        return p;
    }
    Object* crate(float x, float z)
    {
        return scene.objectPackages.createObject(scene.objectPackages.findPackage(String(L"Crate")), at(x, z), 1.0f);
    }
    // A row of crates from (x, z0) to (x, z1).
    void wall(float x, float z0, float z1)
    {
        for (float z = z0; z <= z1 + 0.01f; z += 1.5f)
            crate(x, z);
    }
    // Every segment of the built curve is free.
    static bool curveIsFree(const Path& path)
    {
        for (int32_t i = 0; i + 1 < path.count; ++i)
            if (path.testSegment(path.segmentControlPoints(i), nullptr, nullptr))
                return false;
        return true;
    }
    static int bypasses(const Path& path)
    {
        int n = 0;
        for (int32_t i = 0; i < path.count; ++i)
            n += path.points[i].type == Path::Intermediate ? 1 : 0;
        return n;
    }

    NoCallbacks callbacks;
    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f, &callbacks};
    DynObject* object = nullptr;
};

}

// A wall of crates across the line gets a bypass whose curve's boxes meet
// no crate; a wall open on one side only (beyond the side search) keeps no
// bypass; a bypass whose next point is the target survives the smoothing,
// an unneeded one before another bypass does not.
TEST(AIPath, BypassesWallsOfCrates)
{
    CrateYard yard;
    ASSERT_NE(yard.object, nullptr);
    Path path(yard.object);
    const vec3d none;
    auto buildTo = [&](const vec3d& target) {
        return path.build(nullptr, yard.at(0, 0), &path, target, target, none, 4, true, nullptr, 0.5f);
    };

    // Nothing in the way: start and target only, nothing gathered.
    ASSERT_TRUE(buildTo(yard.at(100, 0)));
    EXPECT_EQ(typesOf(path), (std::vector<uint32_t>{1, 4}));
    EXPECT_EQ(path.obstacleCount, 0);

    yard.wall(50.0f, -6.0f, 6.0f);
    ASSERT_TRUE(buildTo(yard.at(100, 0)));
    EXPECT_GE(path.obstacleCount, 5);
    EXPECT_GE(CrateYard::bypasses(path), 1);
    EXPECT_TRUE(CrateYard::curveIsFree(path));
    Path straight(yard.object);
    straight.insertPoint(0, yard.at(0, 0) + vec3d(0, 2, 0));
    straight.insertPoint(1, yard.at(100, 0) + vec3d(0, 2, 0));
    straight.collectObstacles();
    EXPECT_TRUE(straight.testSegment(straight.segmentControlPoints(0), nullptr, nullptr)) << "the wall blocks";

    // Every point of the bypassed path is passed on the way along its curve:
    // a bypass takes the direction of the point it comes before.
    const vec3d back(-1.0f, 0.0f, 0.0f);
    ASSERT_TRUE(path.build(nullptr, yard.at(0, 0), &path, yard.at(100, 0), yard.at(100, 0), back, 4, true, nullptr,
                           0.5f));
    ASSERT_GE(CrateYard::bypasses(path), 1);
    for (int32_t i = 0; i + 1 < path.count; ++i)
        for (int s = 0; s <= 10; ++s)
            path.updatePassed(path.segmentControlPoints(i).at(float(s) / 10.0f));
    for (int32_t i = 0; i < path.count; ++i)
        EXPECT_EQ(path.points[i].passed, 1u) << "point " << i << " of type " << path.points[i].type;

    // Smoothing: an unneeded bypass before another goes, the one before the
    // target stays.
    path.count = 0;
    path.insertPoint(0, yard.at(0, 0) + vec3d(0, 2, 0));
    path.points[0].type = Path::StartPoint;
    path.insertPoint(1, yard.at(20, -1) + vec3d(0, 2, 0));
    path.insertPoint(2, yard.at(50, -20) + vec3d(0, 2, 0));
    path.insertPoint(3, yard.at(100, 0) + vec3d(0, 2, 0));
    path.points[3].type = Path::GateTarget;
    path.smooth();
    EXPECT_EQ(typesOf(path), (std::vector<uint32_t>{1, 2, 4}));
    EXPECT_EQ(path.points[1].position.z, yard.at(50, -20).z);

}

// The object standing at the target is driven through, never around: the
// builder's gate, a solid frame to the path's boxes, keeps no bypass at the
// target, and gets one on the way to a target beyond it.
TEST(AIPath, TheTargetsOwnObjectIsDrivenThrough)
{
    CrateYard yard;
    Object* gate = yard.scene.objectPackages.createObject(yard.scene.objectPackages.findPackage(String(L"Gate")),
                                                          yard.at(100.0f, 0.0f), 4.0f);
    ASSERT_NE(gate, nullptr);
    const vec3d at = gate->getPosition();
    const vec3d none;
    Path path(yard.object);
    ASSERT_TRUE(path.build(nullptr, yard.at(0, 0), &tag[0], at, at, none, 4, true, nullptr, 0.5f));
    EXPECT_EQ(path.obstacleCount, 0);
    EXPECT_EQ(typesOf(path), (std::vector<uint32_t>{1, 4}));
    ASSERT_TRUE(path.build(nullptr, yard.at(0, 0), &tag[1], yard.at(200, 0), yard.at(200, 0), none, 4, true, nullptr,
                           0.5f));
    EXPECT_EQ(path.obstacleCount, 1);
    EXPECT_GE(CrateYard::bypasses(path), 1);
}

// A wall open only beyond the side search on one side keeps no bypass; a
// single point gathers nothing.
TEST(AIPath, AWallOpenOnOneSideOnlyKeepsNoBypass)
{
    CrateYard closed;
    closed.wall(50.0f, -6.0f, 200.0f);
    const vec3d none;
    Path blocked(closed.object);
    ASSERT_TRUE(blocked.build(nullptr, closed.at(0, 0), &tag[0], closed.at(100, 0), closed.at(100, 0), none, 4, true,
                              nullptr, 0.5f));
    EXPECT_GE(blocked.obstacleCount, 5);
    EXPECT_EQ(CrateYard::bypasses(blocked), 0);
    blocked.count = 1;
    blocked.collectObstacles();
    EXPECT_EQ(blocked.obstacleCount, 0);
}

// An object of more meshes than an obstacle keeps: 16 parts are kept, the
// rest left out.
TEST(AIPath, AnObstacleKeepsAtMostSixteenParts)
{
    CrateYard yard;
    Object* fence = yard.scene.objectPackages.createObject(yard.scene.objectPackages.findPackage(String(L"Fence")),
                                                           yard.at(50.0f, 0.0f), 1.0f);
    ASSERT_NE(fence, nullptr);
    Path path(yard.object);
    path.insertPoint(0, yard.at(0, 0));
    path.insertPoint(1, yard.at(100, 0));
    path.collectObstacles();
    ASSERT_EQ(path.obstacleCount, 1);
    EXPECT_EQ(path.obstacles.at(0)->count, Path::maxParts);
    EXPECT_TRUE(path.testSegment(path.segmentControlPoints(0), nullptr, nullptr));
}

// Random targets, starts, detours and crate sets (fixed seed) build paths
// of at most 200 finite points.
TEST(AIPath, RandomScenesBuildFinitePaths)
{
    CrateYard yard;
    std::mt19937 random(52);
    std::uniform_real_distribution<float> spot(-300.0f, 300.0f);
    for (int i = 0; i < 60; ++i)
        yard.crate(400.0f + spot(random), 400.0f + spot(random));
    Path path(yard.object);
    for (int round = 0; round < 150; ++round) {
        const vec3d start = yard.at(400.0f + spot(random), 400.0f + spot(random));
        const vec3d target = yard.at(400.0f + spot(random) * 1.5f, 400.0f + spot(random));
        const vec3d detour = yard.at(400.0f + spot(random), 400.0f + spot(random));
        const vec3d normal = round % 3 == 0 ? vec3d() : vec3d(spot(random), 0.0f, spot(random)).normalised();
        const uint32_t kinds[] = {4, 5, 7, 8};
        path.build(round % 2 ? &detour : nullptr, start, &tag[round % 4], target + normal * 120.0f, target, normal,
                   kinds[round % 4], true, nullptr, 0.5f);
        ASSERT_GE(path.count, 2) << round;
        ASSERT_LE(path.count, Path::maxPoints) << round;
        for (int32_t k = 0; k < path.count; ++k) {
            const vec3d& p = path.points[k].position;
            ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) << round << " " << k;
        }
        EXPECT_TRUE(std::isfinite(path.bendAngle()));
        EXPECT_TRUE(std::isfinite(path.distanceSquaredTo(start)));
    }
}

// The place a driver steers at, reach units on along its path: the current
// point while it lies that far; else on along the chords after it; past the
// last along its passing direction, or the last itself without one.
TEST(AIPath, ThePointAheadFollowsThePathAndGoesOnPastItsEnd)
{
    auto path = std::make_unique<Path>(nullptr);
    EXPECT_EQ(path->pointAhead(vec3d(5.0f, 0.0f, 5.0f), 30.0f), vec3d(5.0f, 0.0f, 5.0f)) << "no points";
    const vec3d north(0.0f, 0.0f, 1.0f);
    path->insertPoint(0, vec3d(0.0f, 0.0f, 0.0f));
    path->insertPoint(1, vec3d(100.0f, 3.0f, 0.0f));
    path->insertPoint(2, vec3d(100.0f, 3.0f, 100.0f));
    path->points[2].direction = -north;
    path->points[0].passed = 1;
    const struct
    {
        float fromX, reach;
        vec3d expected;
    } cases[] = {
        {0.0f, 50.0f, vec3d(100.0f, 3.0f, 0.0f)},   // the current point, 100 away
        {80.0f, 50.0f, vec3d(100.0f, 3.0f, 30.0f)},  // 20 to it, 30 along the next chord
        {80.0f, 150.0f, vec3d(100.0f, 3.0f, 130.0f)}, // 30 past the last, along its way through
        {80.0f, 0.0f, vec3d(100.0f, 3.0f, 0.0f)},    // no reach: the current point
    };
    for (const auto& c : cases) {
        const vec3d at = path->pointAhead(vec3d(c.fromX, 50.0f, 0.0f), c.reach);
        EXPECT_NEAR((at - c.expected).length(), 0.0f, 1e-3f) << c.fromX << " " << c.reach;
    }
    // The current point passed too: from the last on.
    path->points[1].passed = 1;
    EXPECT_NEAR((path->pointAhead(vec3d(100.0f, 0.0f, 90.0f), 25.0f) - vec3d(100.0f, 3.0f, 115.0f)).length(), 0.0f,
                1e-3f);
    // A last point with no direction (a flag's) is not gone past.
    path->points[2].direction = vec3d();
    EXPECT_EQ(path->pointAhead(vec3d(100.0f, 0.0f, 90.0f), 25.0f), vec3d(100.0f, 3.0f, 100.0f));
}
