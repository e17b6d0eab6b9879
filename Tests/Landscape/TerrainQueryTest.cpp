// Segment hits against marching along the segment, the physics thread's
// ground triangles, the collision cache and queries from another thread.
#include "TerrainTestMaps.h"

#include "Entity/CollisionQuery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

using namespace TerrainTestMaps;

// The first parameter at which the segment is at or below the ground, found
// by small steps; -1 when it never is (or starts there).
float marchedHit(const Terrain& terrain, const vec3d& start, const vec3d& end, int resolution)
{
    constexpr int steps = 20000;
    bool above = false;
    for (int k = 0; k <= steps; ++k) {
        const float t = float(k) / steps;
        const vec3d p = start + (end - start) * t;
        const float ground = terrain.getHeight(p.x, p.z, resolution);
        if (ground == Terrain::missing)
            continue;
        if (p.y > ground)
            above = true;
        else if (above)
            return t;
        else
            return -1.0f;
    }
    return -1.0f;
}

TEST(TerrainSegments, HitsWhereMarchingFindsTheGround)
{
    const auto terrain = load(randomMap(128, 21));
    const float half = terrain->box.maximum.x;
    std::mt19937 random(8);
    std::uniform_real_distribution<float> anywhere(-half * 0.95f, half * 0.95f), outside(half * 1.02f, half * 1.3f);
    int hits = 0;
    for (int k = 0; k < 300; ++k) {
        const int resolution = k % 4;
        const vec3d target{anywhere(random), 0.0f, anywhere(random)};
        const float ground = terrain->getHeight(target.x, target.z, resolution);
        vec3d start{target.x + anywhere(random) * 0.05f, ground + 150.0f, target.z + anywhere(random) * 0.05f};
        if (k % 3 == 0) // some start outside the terrain
            start = {k % 2 ? outside(random) : -outside(random), ground + 400.0f, target.z};
        const vec3d end{target.x, ground - 30.0f, target.z};
        vec3d hit = end;
        float distance = -1.0f;
        const bool found = terrain->intersectSegment(start, hit, &distance, resolution);
        const vec3d normal = Terrain::lastGroundNormal();
        const float marched = marchedHit(*terrain, start, end, resolution);
        ASSERT_EQ(found, marched >= 0.0f) << k;
        if (!found)
            continue;
        ++hits;
        const float length = (end - start).length();
        EXPECT_NEAR(distance / length, marched, 2.0f / 20000.0f + 1e-4f) << k;
        EXPECT_NEAR((hit - (start + (end - start) * (distance / length))).length(), 0.0f, 1e-2f);
        EXPECT_NEAR(hit.y, terrain->getHeight(hit.x, hit.z, resolution), 2e-2f);
        EXPECT_NEAR(normal.length(), 1.0f, 1e-5f);
        EXPECT_GT(normal.y, 0.0f);
        // As the shadows' ground, on every fine cell.
        if (resolution == 3) {
            vec3d sunward;
            ASSERT_TRUE(static_cast<ShadowGround&>(*terrain).intersectSegment(start, end, sunward)) << k;
            EXPECT_EQ(sunward, hit) << k;
        }
    }
    EXPECT_GT(hits, 250);
}

// Long, shallow segments walk many cells before they meet the ground: in
// each of eight directions, from beyond every side and from inside, at every
// resolution; the hit, its distance and its normal are those of the ground
// where marching meets it.
TEST(TerrainSegments, LongShallowSegmentsInEveryDirection)
{
    const auto terrain = load(randomMap(128, 23));
    const float half = terrain->box.maximum.x;
    const std::pair<float, float> directions[] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 0.6f}, {-0.7f, 1}, {-1, -0.4f}, {0.3f, -1}};
    for (const auto& [dx, dz] : directions)
        for (const float from : {1.2f, 0.4f}) // beyond the side the segment comes from, and inside
            for (int resolution = 0; resolution < 4; ++resolution) {
                SCOPED_TRACE(testing::Message() << dx << " " << dz << " from " << from << " resolution " << resolution);
                const float length = std::sqrt(dx * dx + dz * dz);
                const vec3d unit{dx / length, 0.0f, dz / length};
                const vec3d startXZ = unit * (-half * from) + vec3d{unit.z, 0.0f, -unit.x} * (0.1f * half);
                // From above the highest ground to below the lowest, where the
                // segment ends inside the terrain: it always meets the ground.
                const vec3d start{startXZ.x, terrain->box.maximum.y + 5.0f, startXZ.z};
                vec3d end = startXZ + unit * ((1.0f + from) * half);
                end.y = terrain->box.minimum.y - 5.0f;
                vec3d hit = end;
                float distance = -1.0f;
                const bool found = terrain->intersectSegment(start, hit, &distance, resolution);
                const vec3d normal = Terrain::lastGroundNormal();
                const float marched = marchedHit(*terrain, start, end, resolution);
                ASSERT_TRUE(found);
                ASSERT_GE(marched, 0.0f);
                const float total = (end - start).length();
                EXPECT_NEAR(distance / total, marched, 2.0f / 20000.0f + 1e-4f);
                EXPECT_NEAR(hit.y, terrain->getHeight(hit.x, hit.z, resolution), 2e-2f);
                // The normal of the ground triangle hit, as a height query there gives it.
                terrain->getHeight(hit.x, hit.z, resolution);
                const vec3d there = Terrain::lastGroundNormal().normalised();
                EXPECT_GT(normal.dot(there), 0.999f);
            }
}

TEST(TerrainSegments, FromBelowBesideOrAboveThereIsNoHit)
{
    const auto terrain = load(randomMap(128, 22));
    const float half = terrain->box.maximum.x;
    const std::vector<std::pair<vec3d, vec3d>> misses = {
        {{10, -100, 20}, {10, 5000, 20}},                  // up through the ground
        {{-200, 5000, -100}, {300, 4000, 250}},            // high above it
        {{half + 10, 0, 0}, {half + 500, -100, 40}},       // both ends beyond the maximum x
        {{0, 0, -half - 1}, {100, -50, -half - 90}},       // both ends beyond the minimum z
        {{-half - 100, 3000, 0}, {-half - 50, -3000, 0}},  // down beside it
    };
    for (const auto& [start, end] : misses) {
        vec3d hit = end;
        float distance = -1.0f;
        EXPECT_FALSE(terrain->intersectSegment(start, hit, &distance, 3));
        EXPECT_EQ(hit, end);
        EXPECT_EQ(distance, -1.0f);
        vec3d sunward = end;
        EXPECT_FALSE(static_cast<ShadowGround&>(*terrain).intersectSegment(start, end, sunward));
        EXPECT_EQ(sunward, end);
    }
    Terrain empty;
    vec3d end{0, -100, 0};
    EXPECT_FALSE(empty.intersectSegment({0, 100, 0}, end, nullptr, 0));
    // The shadows find ground heights only while a level is loaded.
    EXPECT_FALSE(empty.hasHeightData());
    EXPECT_TRUE(terrain->hasHeightData());
    terrain->clear();
    EXPECT_FALSE(terrain->hasHeightData());
}

TEST(TerrainCollision, TrianglesUnderTheBoxLieOnTheGround)
{
    const auto terrain = load(randomMap(128, 23));
    std::mt19937 random(2);
    const float half = terrain->box.maximum.x;
    std::uniform_real_distribution<float> anywhere(-half * 0.9f, half * 0.9f);
    for (int k = 0; k < 50; ++k) {
        CollisionQuery query;
        const float x = anywhere(random), z = anywhere(random), y = terrain->getHeight(x, z, 3);
        query.boxMin = {x - 4.0f, y - 10.0f, z - 4.0f};
        query.boxMax = {x + 4.0f, y + 10.0f, z + 4.0f};
        terrain->cachePatchesInBox(query);
        ASSERT_GT(query.triangleCount, 0u);
        for (uint32_t v = 0; v < query.vertexCount; ++v) {
            const vec3d p = *query.vertices.at(int32_t(v));
            EXPECT_NEAR(p.y, terrain->getHeight(p.x, p.z, 3), 1e-2f);
        }
        // The fine points cover the box.
        float minX = FLT_MAX, maxX = -FLT_MAX;
        for (uint32_t v = 0; v < query.vertexCount; ++v) {
            minX = std::min(minX, query.vertices.at(int32_t(v))->x);
            maxX = std::max(maxX, query.vertices.at(int32_t(v))->x);
        }
        EXPECT_LE(minX, query.boxMin.x);
        EXPECT_GE(maxX, query.boxMax.x);
        for (uint32_t t = 0; t < query.triangleCount; ++t) {
            const neTriangle& triangle = *query.triangles.at(int32_t(t));
            EXPECT_EQ(*query.candidates.at(int32_t(t)), int(t));
            const vec3d a = *query.vertices.at(triangle.indices[0]), b = *query.vertices.at(triangle.indices[1]),
                        c = *query.vertices.at(triangle.indices[2]);
            // Edge 0 x edge 1 points up, as the collision tests expect of ground.
            EXPECT_GT((b - a).cross(c - b).y, 0.0f);
        }
    }
    // A box high above the ground or beside the terrain gets nothing.
    CollisionQuery above;
    above.boxMin = {0, 10000, 0};
    above.boxMax = {5, 10010, 5};
    terrain->cachePatchesInBox(above);
    EXPECT_EQ(above.triangleCount, 0u);
    CollisionQuery beside;
    beside.boxMin = {terrain->box.maximum.x + 10, -100, 0};
    beside.boxMax = {terrain->box.maximum.x + 20, 100, 10};
    terrain->cachePatchesInBox(beside);
    EXPECT_EQ(beside.triangleCount, 0u);
}

bool cached(const Terrain& terrain, int32_t patch)
{
    for (const Terrain::CellCacheEntry* entry : terrain.cache)
        if (entry->patch == patch)
            return true;
    return false;
}

// A query box in the middle of patch p.
void askFor(Terrain& terrain, int32_t p)
{
    const Terrain::Patch& patch = terrain.patches[size_t(p)];
    CollisionQuery query;
    query.boxMin = patch.centre - vec3d{1, 1000, 1};
    query.boxMax = patch.centre + vec3d{1, 1000, 1};
    terrain.cachePatchesInBox(query);
}

TEST(TerrainCollision, TheCacheReusesTheEntryFilledLongestAgoAndForgetsOldLevels)
{
    const auto terrain = load(randomMap(128, 24));
    for (int32_t p = 0; p < 257; ++p)
        askFor(*terrain, p);
    EXPECT_EQ(terrain->cache.size(), 257u);
    askFor(*terrain, 0); // a hit: its fill stays the oldest
    askFor(*terrain, 300);
    EXPECT_EQ(terrain->cache.size(), 257u);
    EXPECT_FALSE(cached(*terrain, 0));
    EXPECT_TRUE(cached(*terrain, 1));
    EXPECT_TRUE(cached(*terrain, 300));

    // A new level never collides with the old ground.
    const auto flat = heightMap(128, [](int32_t, int32_t) { return 5120.0f; }); // 20 height units
    terrain->clear();
    EXPECT_TRUE(terrain->cache.empty());
    FileArray stream(4096);
    const std::vector<uint8_t> bytes = mapBytes(flat);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    ASSERT_TRUE(terrain->load(nullptr, settings(), stream));
    CollisionQuery query;
    query.boxMin = terrain->patches[300].centre - vec3d{3, 1000, 3};
    query.boxMax = terrain->patches[300].centre + vec3d{3, 1000, 3};
    terrain->cachePatchesInBox(query);
    ASSERT_GT(query.vertexCount, 0u);
    for (uint32_t v = 0; v < query.vertexCount; ++v)
        EXPECT_NEAR(query.vertices.at(int32_t(v))->y, 20.0f * 1.75f, 0.01f);
}

TEST(TerrainCollision, ClearWaitsForQueriesOfAnotherThread)
{
    auto terrain = load(randomMap(128, 25));
    const std::vector<uint8_t> bytes = mapBytes(randomMap(128, 26));
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread physics([&] {
        while (!stop.load()) {
            CollisionQuery query;
            query.boxMin = {-50, -1000, -50};
            query.boxMax = {50, 1000, 50};
            terrain->cachePatchesInBox(query);
            if (terrain->getHeight(10.0f, 20.0f, 3) != Terrain::missing)
                answered.fetch_add(1);
            vec3d end{0, -1000, 0};
            terrain->intersectSegment({5, 2000, 5}, end, nullptr, 2);
        }
    });
    // Twenty loads, and on until the other thread has had an answer (a
    // minute at most: only a thread that never answers takes that long).
    const DWORD start = GetTickCount();
    for (int round = 0; round < 20 || (answered.load() == 0 && GetTickCount() - start < 60000); ++round) {
        terrain->clear();
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ASSERT_TRUE(terrain->load(nullptr, settings(), stream));
        Sleep(2);
    }
    stop.store(true);
    physics.join();
    EXPECT_GT(answered.load(), 0);
}

}

// A ridge of one row of the map's samples 3 units apart, 16 units over level
// ground: a box whose bottom lies above the level ground but below the
// ridge's top gets the ridge's triangles, though the fine points at the
// corners of its range all lie on the level ground.
TEST(TerrainCollision, ARidgeInsideTheBoxGivesItsTriangles)
{
    // Sample 66 runs through the middle of a row of patches 12 units wide.
    const auto terrain =
        load(mapBytes(heightMap(128, [](int32_t i, int32_t) { return 20000.0f + (i == 66 ? 2340.0f : 0.0f); })),
             settings(0.375f, 1.75f));
    const float level = terrain->getHeight(terrain->box.minimum.x + 20.0f, 0.0f, 3);
    const float ridgeX = terrain->box.minimum.x + 66.0f * 3.0f;
    ASSERT_GT(terrain->getHeight(ridgeX, 0.0f, 3), level + 15.0f);
    CollisionQuery query;
    query.boxMin = {ridgeX - 4.0f, level + 2.0f, -2.0f};
    query.boxMax = {ridgeX + 4.0f, level + 4.0f, 2.0f};
    terrain->cachePatchesInBox(query);
    EXPECT_GT(query.triangleCount, 0u);
    // Above the ridge's top nothing.
    CollisionQuery above;
    above.boxMin = {ridgeX - 4.0f, level + 20.0f, -2.0f};
    above.boxMax = {ridgeX + 4.0f, level + 30.0f, 2.0f};
    terrain->cachePatchesInBox(above);
    EXPECT_EQ(above.triangleCount, 0u);
}
