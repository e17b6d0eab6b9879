// The ground under the road network's hollow tracks: lowered at the fine
// resolutions of the height query and in the patches' grids, the patches'
// colour texels tinted, the coarse grid left as it is.
#include "TerrainTestMaps.h"
#include "WayFileWriter.h"

#include "Entity/CollisionQuery.h"
#include "Render/Camera.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace TerrainTestMaps;

// Flat ground 50 height units high and a hollow track 20 wide along z from
// (0, -150) to (0, 150), tinted brown.
class TerrainHollow : public testing::Test
{
protected:
    void SetUp() override
    {
        createWayModelerSet();
        gTerrain.clear();
        const std::vector<uint8_t> map = mapBytes(heightMap(256, [](int32_t, int32_t) { return 12800.0f; }));
        FileArray ground(4096);
        ground.write(map.data(), uint32_t(map.size()));
        ground.seek(0, 0);
        ASSERT_TRUE(gTerrain.load(nullptr, settings(), ground));
        WayFileWriter::Way track;
        for (float z : {-150.0f, 150.0f}) {
            WayFileWriter::Point p;
            p.position[2] = z;
            p.width = 20.0f;
            p.stepsPerLength = 0.5f;
            p.name = String(L"TerrainHollow1");
            p.colour[0] = 40;  // blue
            p.colour[1] = 100; // green
            p.colour[2] = 160; // red
            track.push_back(p);
        }
        FileArray ways(256);
        WayFileWriter::write({track}, ways);
        ways.seek(0, 0);
        ASSERT_TRUE(gWayNetwork.read(ways));
    }
    void TearDown() override
    {
        WayModelerSet::destroy();
        gWayNetwork.clear();
        gTerrain.clear();
    }

    static constexpr float ground = 12800.0f * 0.00390628f * 1.75f;
    // 10 in from its edges the track is 9 x min(1, 0.06 x 10) height units deep.
    static constexpr float sunk = (12800.0f * 0.00390628f - 5.4f) * 1.75f;
};

TEST_F(TerrainHollow, FineHeightsSinkAndTheCoarseGridDoesNot)
{
    for (int32_t resolution = 1; resolution <= 3; ++resolution)
        EXPECT_NEAR(gTerrain.getHeight(0.0f, 0.0f, resolution), sunk, 0.02f) << resolution;
    EXPECT_NEAR(gTerrain.getHeight(0.0f, 0.0f, 0), ground, 0.001f);
    EXPECT_NEAR(gTerrain.getHeight(30.0f, 0.0f, 3), ground, 0.001f);
    EXPECT_NEAR(gTerrain.getHeight(0.0f, 200.0f, 3), ground, 0.001f);
}

// The normal on the hollow's wall leans with the wall, on the owner thread
// and from another (the physics thread's wheel probes): 5 in from the
// track's edge its ground rises 9 x 0.06 x 1.75 units per unit outwards.
// Level ground beside the track and on the coarse grid keeps an upright
// normal.
TEST_F(TerrainHollow, NormalsLeanWithTheWall)
{
    struct Probe
    {
        float x;
        float normalX; // of the unit normal
    };
    const float rise = 9.0f * 0.06f * 1.75f;
    const float lean = rise / std::sqrt(1.0f + rise * rise);
    const Probe probes[] = {{5.0f, -lean}, {-5.0f, lean}, {30.0f, 0.0f}};
    const auto ask = [](float x) {
        vec3d normal;
        gTerrain.getHeight(x, 7.0f, 3, normal);
        return normal.normalised();
    };
    for (const Probe& p : probes) {
        EXPECT_NEAR(ask(p.x).x, p.normalX, 0.02f) << p.x;
        vec3d fromThread;
        std::thread([&] { fromThread = ask(p.x); }).join();
        EXPECT_NEAR(fromThread.x, p.normalX, 0.02f) << p.x << " from another thread";
    }
    vec3d coarse;
    gTerrain.getHeight(5.0f, 7.0f, 0, coarse);
    EXPECT_NEAR(coarse.normalised().y, 1.0f, 1e-4f);
}

TEST_F(TerrainHollow, PatchesInViewHoldTheHollowOnceAndTheTint)
{
    // Fine points across the track, asked from another thread (the surface
    // with the hollow at the point) before the patches have their detail,
    // then here from the patches' grids.
    std::vector<vec2d> points;
    for (int i = -8; i <= 8; ++i)
        for (int k = -8; k <= 8; ++k)
            points.push_back({float(i) * 3.0f, float(k) * 3.0f});
    std::vector<float> remote;
    std::thread([&] {
        for (const vec2d& p : points)
            remote.push_back(gTerrain.getHeight(p.x, p.y, 3));
    }).join();
    Camera camera;
    camera.position = {0.0f, 200.0f, 0.0f};
    camera.range = 600.0f;
    gTerrain.startLod(camera);
    int sunkPoints = 0;
    for (size_t n = 0; n < points.size(); ++n) {
        const float here = gTerrain.getHeight(points[n].x, points[n].y, 3);
        EXPECT_NEAR(here, remote[n], 0.001f) << points[n].x << ", " << points[n].y;
        sunkPoints += here < ground - 0.01f;
    }
    EXPECT_GT(sunkPoints, 100);
    // The track's brown over the plain ground's texels (0 without layers),
    // beside it nothing.
    int tinted = 0, beside = 0;
    for (const Terrain::Patch& patch : gTerrain.patches)
        if (const Terrain::PatchData* data = patch.detail)
            for (int i = 0; i < 16; ++i)
                for (int j = 0; j < 16; ++j) {
                    const float x = (float(data->x0) + 2.0f * float(i)) * 3.0f;
                    const uint16_t c = data->colours[i][j];
                    if (std::fabs(x) < 7.0f && std::fabs(float(data->z0) * 3.0f) < 140.0f) {
                        tinted += c != 0 && (c >> 11) > (c & 31);
                    } else if (std::fabs(x) > 13.0f) {
                        beside += c != 0;
                    }
                }
    EXPECT_GT(tinted, 20);
    EXPECT_EQ(beside, 0);
}

}

namespace {

// The same ground with two hollows as wide as an off-road course's meeting
// at the middle at an angle: one along +x up to it, the other on from it
// turned 10 degrees towards +z. Outside the bend (towards -z) a thin wedge
// lies in neither and keeps the ground's height; inside it they overlap.
class MeetingHollows : public TerrainHollow
{
protected:
    void SetUp() override
    {
        TerrainHollow::SetUp();
        const auto point = [](float x, float z) {
            WayFileWriter::Point p;
            p.position[0] = x;
            p.position[2] = z;
            p.width = 113.333f;
            p.stepsPerLength = 0.1f;
            p.thinTolerance = 0.5f;
            p.name = String(L"TerrainHollow1");
            return p;
        };
        const float turn = 10.0f * 3.14159265f / 180.0f;
        FileArray ways(1024);
        WayFileWriter::write({{point(-300.0f, 0.0f), point(0.0f, 0.0f)},
                              {point(0.0f, 0.0f), point(300.0f * std::cos(turn), 300.0f * std::sin(turn))}},
                             ways);
        ways.seek(0, 0);
        ASSERT_TRUE(gWayNetwork.read(ways));
    }
};

}

// Where the hollows meet, the ground is one: the height asked on the main
// thread (from the patches' grids in view) and at the same time from another
// thread (the physics thread's wheels) agree, and both lie on the triangles
// the physics collides with. The wedge stands as a ridge in all three.
TEST_F(MeetingHollows, EveryThreadFindsTheGroundTheBodiesMeet)
{
    std::vector<vec2d> points;
    for (float x = -60.0f; x <= 60.0f; x += 1.7f)
        for (float z = -70.0f; z <= 70.0f; z += 2.3f)
            points.push_back({x, z});
    Camera camera;
    camera.position = {0.0f, 200.0f, 0.0f};
    camera.range = 600.0f;
    gTerrain.startLod(camera);
    std::vector<float> here(points.size()), there(points.size());
    std::atomic<int> started{0};
    const auto ask = [&](std::vector<float>& out) {
        started.fetch_add(1);
        while (started.load() < 2)
            std::this_thread::yield();
        for (size_t n = 0; n < points.size(); ++n)
            out[n] = gTerrain.getHeight(points[n].x, points[n].y, 3);
    };
    std::thread other(ask, std::ref(there));
    ask(here);
    other.join();
    int ridge = 0, differ = 0;
    for (size_t n = 0; n < points.size(); ++n) {
        differ += std::fabs(here[n] - there[n]) > 0.001f;
        const bool wedge = points[n].x > 0.0f && points[n].x < 8.0f && points[n].y > -50.0f && points[n].y < -15.0f;
        ridge += wedge && here[n] > ground - 9.0f * 1.75f + 6.0f;
    }
    EXPECT_EQ(differ, 0) << "of " << points.size();
    EXPECT_GT(ridge, 0) << "the wedge";
    // The physics' triangles under a box over the junction: each vertex as
    // high as the height query finds it from another thread.
    CollisionQuery query;
    query.boxMin = {-30.0f, -100.0f, -40.0f};
    query.boxMax = {30.0f, 200.0f, 40.0f};
    std::vector<float> vertexHeights;
    std::thread([&] {
        gTerrain.cachePatchesInBox(query);
        for (uint32_t v = 0; v < query.vertexCount; ++v) {
            const vec3d p = *query.vertices.at(int32_t(v));
            vertexHeights.push_back(gTerrain.getHeight(p.x, p.z, 3));
        }
    }).join();
    ASSERT_GT(query.vertexCount, 100u);
    for (uint32_t v = 0; v < query.vertexCount; ++v)
        ASSERT_NEAR(query.vertices.at(int32_t(v))->y, vertexHeights[v], 0.001f) << v;
}
