// The terrain's ground from a ".map" file without a device: the smooth
// surface, the quadtree and tiles, the levels of detail and the queries,
// checked against sums done the long way.
#include "TerrainTestMaps.h"

#include "Entity/CollisionQuery.h"
#include "Render/Camera.h"
#include "Render/Light.h"
#include "Render/TextureProj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

using namespace TerrainTestMaps;

// The height query done the long way, on the global fine grid.
float referenceHeight(const TerrainMapWriter::Map& map, float x, float z, int resolution, float h, float vs)
{
    const int32_t s = map.size, n = s / 4, cells = n * (4 << resolution);
    const float width = 32.0f * float(n) * h, w = width / float(cells);
    const float u = (x + width / 2) / w, v = (z + width / 2) / w;
    const int32_t fx = std::min(int32_t(std::floor(u)), cells - 1), fz = std::min(int32_t(std::floor(v)), cells - 1);
    const float tx = u - float(fx), tz = v - float(fz);
    auto corner = [&](int32_t cx, int32_t cz) {
        if (resolution == 0)
            return float(map.heights[size_t(std::min(cx, s - 1)) * s + std::min(s - cz, s - 1)]) * HeightSurface::unit;
        const int32_t step = 8 >> resolution;
        return HeightSurface::height(map.heights.data(), s, cx * step, 8 * s - cz * step);
    };
    float c00 = corner(fx, fz), c10 = corner(fx + 1, fz), c01 = corner(fx, fz + 1), c11 = corner(fx + 1, fz + 1);
    if (tx + tz > 1.0f)
        c00 = c01 + c10 - c11;
    else
        c11 = c01 + c10 - c00;
    return (((1 - tx) * c00 + tx * c10) * (1 - tz) + ((1 - tx) * c01 + tx * c11) * tz) * vs;
}

Camera cameraAt(vec3d position, float range = 1800.0f)
{
    Camera camera;
    camera.range = range;
    camera.position = position;
    camera.update();
    return camera;
}

TEST(TerrainSurface, APlaneStaysAPlaneAndCellsJoinWithoutASeam)
{
    const auto map = heightMap(128, [](int32_t i, int32_t j) { return 20000.0f + 37.0f * float(i) - 23.0f * float(j); });
    const auto terrain = load(map);
    ASSERT_TRUE(terrain->isLoaded());
    const float w = 3.0f; // one fine cell of the default horizontal scale
    std::mt19937 random(5);
    // Away from the border (where the grid is clamped) the fine surface is the plane.
    std::uniform_real_distribution<float> inner(-4.0f * 128 * w + 40 * w, 4.0f * 128 * w - 40 * w);
    for (int k = 0; k < 500; ++k) {
        const float x = inner(random), z = inner(random);
        // Sample i sits at x = (i - 64) x 8 cells, sample j (against z) at z = (64 - j) x 8 cells.
        const float i = x / (8 * w) + 64, j = 64 - z / (8 * w);
        const float plane = (20000.0f + 37.0f * i - 23.0f * j) * HeightSurface::unit * 1.75f;
        EXPECT_NEAR(terrain->getHeight(x, z, 3), plane, 1e-2f) << x << " " << z;
    }
    // Detail records: patch grids agree on every shared edge, exactly.
    terrain->startLod(cameraAt({0, 300, 0}));
    const int32_t n = terrain->patchesPerSide;
    int compared = 0;
    for (const Terrain::Patch& patch : terrain->patches) {
        const Terrain::PatchData* data = patch.detail;
        if (!data)
            continue;
        if (patch.index >= n && terrain->patches[patch.index - n].detail) {
            const auto& lower = terrain->patches[patch.index - n].detail->heights;
            for (int k = 0; k < 33; ++k)
                ASSERT_EQ(data->heights[0][k], lower[32][k]);
            ++compared;
        }
        if (patch.index % n && terrain->patches[patch.index - 1].detail) {
            const auto& left = terrain->patches[patch.index - 1].detail->heights;
            for (int k = 0; k < 33; ++k)
                ASSERT_EQ(data->heights[k][0], left[k][32]);
            ++compared;
        }
    }
    EXPECT_GT(compared, 100);
}

TEST(TerrainSurface, TheSurfacePassesThroughTheGridAndTheQueriesMatchTheLongWay)
{
    const auto map = randomMap(128, 9);
    const float h = 2.5f, vs = 1.25f;
    const auto terrain = load(map, settings(h, vs));
    ASSERT_TRUE(terrain->isLoaded());
    // Grid samples: i along x from the low-x edge, j against z from the high-z edge.
    for (int32_t i : {0, 1, 17, 64, 127})
        for (int32_t j : {1, 30, 77, 127}) {
            const float x = float(i - 64) * 8 * h, z = float(64 - j) * 8 * h;
            EXPECT_NEAR(terrain->getHeight(x, z, 3), float(map.heights[size_t(i) * 128 + j]) * HeightSurface::unit * vs,
                        1e-2f);
        }
    std::mt19937 random(7);
    const float half = 4.0f * 128 * h;
    std::uniform_real_distribution<float> anywhere(-half, half);
    auto compareAll = [&](const char* when) {
        for (int k = 0; k < 3000; ++k) {
            const float x = anywhere(random), z = anywhere(random);
            const int resolution = k % 4;
            ASSERT_NEAR(terrain->getHeight(x, z, resolution), referenceHeight(map, x, z, resolution, h, vs), 2e-3f)
                << when << " " << x << " " << z << " at " << resolution;
            // The query with its normal handed back gives the same ground.
            const vec3d kept = Terrain::lastGroundNormal();
            vec3d normal;
            ASSERT_EQ(terrain->getHeight(x, z, resolution, normal), terrain->getHeight(x, z, resolution)) << k;
            ASSERT_EQ(normal, kept) << k;
        }
    };
    compareAll("without detail records");
    terrain->startLod(cameraAt({0, 200, 0}, 2000.0f));
    EXPECT_NE(terrain->patches[size_t(terrain->patchCount / 2 + 16)].detail, nullptr);
    compareAll("with detail records");

    // The edges count as inside; a step beyond them is missing ground.
    EXPECT_NE(terrain->getHeight(half, 0.0f, 2), Terrain::missing);
    EXPECT_NE(terrain->getHeight(-half, -half, 0), Terrain::missing);
    EXPECT_EQ(terrain->getHeight(half + 0.01f, 0.0f, 2), Terrain::missing);
    EXPECT_EQ(terrain->getHeight(0.0f, -half - 0.01f, 3), Terrain::missing);
    EXPECT_EQ(terrain->getHeight(std::nanf(""), 0.0f, 3), Terrain::missing);
    // Missing ground leaves both normals as they were.
    vec3d untouched{1.0f, 2.0f, 3.0f};
    terrain->getHeight(0.0f, 0.0f, 3);
    const vec3d before = Terrain::lastGroundNormal();
    EXPECT_EQ(terrain->getHeight(half + 0.01f, 0.0f, 2, untouched), Terrain::missing);
    EXPECT_EQ(untouched, vec3d(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(terrain->getHeight(half + 0.01f, 0.0f, 2), Terrain::missing);
    EXPECT_EQ(Terrain::lastGroundNormal(), before);
    // On the diagonal the lower triangle gives the normal.
    const float cell = 32.0f * 32 * h / float(32 * 32);
    const float x0 = 10 * cell, z0 = 20 * cell;
    terrain->getHeight(x0 + 0.25f * cell, z0 + 0.75f * cell, 3);
    const vec3d onDiagonal = Terrain::lastGroundNormal();
    terrain->getHeight(x0 + 0.2f * cell, z0 + 0.7f * cell, 3);
    EXPECT_EQ(onDiagonal, Terrain::lastGroundNormal());
    EXPECT_EQ(onDiagonal.y, cell);

    Terrain empty;
    EXPECT_EQ(empty.getHeight(0.0f, 0.0f, 3), Terrain::missing);
}

TEST(TerrainSurface, EachPatchHasOneLeafAndTilesKnowTheirNeighbours)
{
    for (int32_t size : {128, 256}) {
        const auto terrain = load(randomMap(size, 3));
        ASSERT_TRUE(terrain->isLoaded());
        const int32_t n = size / 4;
        std::set<const Terrain::Quadtree*> leaves;
        for (const Terrain::Patch& patch : terrain->patches) {
            ASSERT_NE(patch.leaf, nullptr);
            ASSERT_EQ(patch.leaf->items, std::vector<int32_t>{patch.index});
            EXPECT_TRUE(leaves.insert(patch.leaf).second);
            EXPECT_NEAR(patch.leaf->centre.x, patch.centre.x, 1e-3f);
            EXPECT_NEAR(patch.leaf->centre.z, patch.centre.z, 1e-3f);
        }
        // n = 32: the root is the only tile and its own neighbour; n = 64:
        // four tiles, each the other's neighbour on both sides.
        const int32_t perSide = n / 32;
        ASSERT_EQ(terrain->tilesPerSide, perSide);
        ASSERT_EQ(terrain->tiles.size(), size_t(perSide * perSide));
        if (perSide == 1) {
            EXPECT_EQ(terrain->root.tile, &terrain->tiles[0]);
        }
        for (int32_t row = 0; row < perSide; ++row)
            for (int32_t column = 0; column < perSide; ++column) {
                const Terrain::Tile& tile = terrain->tiles[size_t(row * perSide + column)];
                const Terrain::Tile* across = &terrain->tiles[size_t(row * perSide + (column + 1) % perSide)];
                const Terrain::Tile* along = &terrain->tiles[size_t(((row + 1) % perSide) * perSide + column)];
                EXPECT_EQ(tile.lowerColumn, across);
                EXPECT_EQ(tile.higherColumn, across);
                EXPECT_EQ(tile.lowerRow, along);
                EXPECT_EQ(tile.higherRow, along);
                EXPECT_EQ(tile.borderPatches.size(), 4u * 32u);
            }
        // A patch's tile is the tile node above its leaf.
        for (int32_t p : {0, n - 1, n * n - 1, (n * 33 + 40) % (n * n)}) {
            const Terrain::Quadtree* node = &terrain->root;
            while (!node->tile) {
                const vec3d& c = terrain->patches[size_t(p)].centre;
                const int k = c.z > node->centre.z ? (c.x >= node->centre.x ? 1 : 0) : (c.x >= node->centre.x ? 3 : 2);
                node = node->children[k];
            }
            const int32_t r = p / n, pz = n - 1 - p % n;
            EXPECT_EQ(node->tile, &terrain->tiles[size_t((pz / 32) * perSide + r / 32)]) << p;
        }
    }
}

// Grid points of an index set's edge: row 0 (the high-z edge) or column 0.
std::set<int> edgePoints(const std::vector<uint16_t>& points, bool rowEdge, int line)
{
    std::set<int> out;
    for (uint16_t v : points) {
        const int row = v / 33, column = v % 33;
        if (rowEdge && row == line)
            out.insert(column);
        if (!rowEdge && column == line)
            out.insert(row);
    }
    return out;
}

TEST(TerrainIndexSets, EachCoversItsPatchOnceAndMeetsItsNeighbours)
{
    std::vector<uint16_t> points, indices;
    for (int level = 0; level <= 5; ++level)
        for (int lower = 0; lower < 3; ++lower)
            for (int left = 0; left < 3; ++left) {
                SCOPED_TRACE(testing::Message() << "level " << level << " flags " << lower << " " << left);
                Terrain::triangulate(level, lower, left, points, indices);
                ASSERT_EQ(indices.size() % 3, 0u);
                std::vector<int> used(points.size());
                for (uint16_t i : indices) {
                    ASSERT_LT(i, points.size());
                    ++used[i];
                }
                for (int u : used)
                    EXPECT_GT(u, 0);
                if (level >= 3) {
                    EXPECT_LE(points.size(), 2048u);
                }
                // Every sample point inside the patch lies in exactly one triangle.
                auto corner = [&](int k) {
                    const uint16_t v = points[indices[size_t(k)]];
                    return vec2d{float(v % 33), -float(v / 33)};
                };
                for (float sx = 0.1371f; sx < 32.0f; sx += 0.7213f)
                    for (float sy = 0.2593f; sy < 32.0f; sy += 0.6437f) {
                        const vec2d p{sx, -sy};
                        int covering = 0;
                        for (size_t t = 0; t < indices.size(); t += 3) {
                            const vec2d a = corner(int(t)), b = corner(int(t + 1)), c = corner(int(t + 2));
                            // Counter-clockwise with x to the right and z upward.
                            ASSERT_GT((b - a).cross(c - a), 0.0f);
                            if ((b - a).cross(p - a) >= 0 && (c - b).cross(p - b) >= 0 && (a - c).cross(p - c) >= 0)
                                ++covering;
                        }
                        ASSERT_EQ(covering, 1) << sx << " " << sy;
                    }
                // The stitched edges have the neighbour's spacing: a coarser
                // neighbour's far edge when the flag is 0, a finer one's when 2.
                const int neighbour = left == 0 ? level + 1 : left == 2 ? level - 1 : level;
                if (neighbour >= 0 && neighbour <= 5 && !(level == 5 && left == 0)) {
                    std::vector<uint16_t> other, ignored;
                    Terrain::triangulate(neighbour, 1, 1, other, ignored);
                    EXPECT_EQ(edgePoints(points, true, 0), edgePoints(other, true, 32));
                }
                const int below = lower == 0 ? level + 1 : lower == 2 ? level - 1 : level;
                if (below >= 0 && below <= 5 && !(level == 5 && lower == 0)) {
                    std::vector<uint16_t> other, ignored;
                    Terrain::triangulate(below, 1, 1, other, ignored);
                    EXPECT_EQ(edgePoints(points, false, 0), edgePoints(other, false, 32));
                }
            }
}

TEST(TerrainLevels, DistanceGivesTheLevelAndNeighboursTheStitching)
{
    const auto terrain = load(randomMap(128, 4), [] {
        Terrain::Settings s = settings();
        s.lodDistance = 300.0f; // with a range of 1800 the squared distance is the metric
        return s;
    }());
    const Terrain::Patch& patch = terrain->patches[size_t(16 * 32 + 15)];
    const std::vector<std::pair<float, int>> cases = {{0.0f, 0}, {1.0f, 1}, {1.5f, 1}, {1.8f, 1}, {2.0f, 2},
                                                      {3.0f, 3}, {3.9f, 3}, {4.5f, 4}, {5.0f, 5}, {40.0f, 5}};
    for (const auto& [above, level] : cases) {
        Terrain& t = *terrain;
        t.lastLodCamera = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
        t.startLod(cameraAt(patch.centre + vec3d{0.0f, above, 0.0f}));
        EXPECT_EQ(patch.level, level) << above;
    }
    // The lowest allowed level lifts the finer ones.
    terrain->lowestLod = 2;
    terrain->startLod(cameraAt(patch.centre));
    EXPECT_EQ(patch.level, 2);
    // Stitch flags follow the neighbours' levels, which differ by one at most
    // (the stitching joins no more).
    terrain->lowestLod = 0;
    terrain->lodDistance = 4.0f;
    terrain->startLod(cameraAt(patch.centre + vec3d{0.0f, 30.0f, 0.0f}));
    const int32_t n = terrain->patchesPerSide;
    std::set<int> levels;
    for (const Terrain::Patch& p : terrain->patches) {
        if (!p.detail)
            continue;
        levels.insert(p.level);
        for (int32_t q : {p.index - 1, p.index + 1, p.index - n, p.index + n})
            if (q >= 0 && q < n * n && terrain->patches[size_t(q)].detail &&
                (std::abs(q % n - p.index % n) <= 1)) {
                EXPECT_LE(std::abs(terrain->patches[size_t(q)].level - p.level), 1) << p.index << " " << q;
            }
        if (p.index % n) {
            const int other = terrain->patches[size_t(p.index - 1)].level;
            EXPECT_EQ(p.leftFlag, other == p.level ? 1 : other < p.level ? 2 : 0);
        }
        if (p.index >= n) {
            const int other = terrain->patches[size_t(p.index - n)].level;
            EXPECT_EQ(p.lowerFlag, other == p.level ? 1 : other < p.level ? 2 : 0);
        }
    }
    EXPECT_GE(levels.size(), 5u);
    // A camera that moved less than 0.5 % of its range leaves the levels.
    const vec3d last = terrain->lastLodCamera;
    Camera moved = cameraAt(last + vec3d{5.0f, 0.0f, 0.0f});
    terrain->update(moved);
    EXPECT_EQ(terrain->lastLodCamera, last);
    moved = cameraAt(last + vec3d{10.0f, 0.0f, 0.0f});
    terrain->update(moved);
    EXPECT_EQ(terrain->lastLodCamera, moved.position);
    // Far patches keep no detail record; a camera that barely moved changes nothing.
    terrain->startLod(cameraAt({-4000.0f, 100.0f, -4000.0f}, 500.0f));
    EXPECT_EQ(terrain->patches[size_t(n * n - 1)].detail, nullptr);
}

// A box-shaped projection volume: x and z within the given bounds, any height.
ConvexVolume boxVolume(float minX, float maxX, float minZ, float maxZ)
{
    ConvexVolume volume;
    const std::pair<vec3d, float> planes[6] = {{{1, 0, 0}, minX}, {{-1, 0, 0}, -maxX}, {{0, 0, 1}, minZ},
                                               {{0, 0, -1}, -maxZ}, {{0, 1, 0}, -1.0e6f}, {{0, -1, 0}, -1.0e6f}};
    for (const auto& [normal, distance] : planes) {
        ConvexVolume::Plane& plane = volume.planes[volume.count++];
        plane.normal = normal;
        plane.distance = distance;
        plane.point = normal * distance;
    }
    return volume;
}

TEST(TerrainProjections, ReachOnlyThePatchesInTheirVolume)
{
    const auto terrain = load(randomMap(128, 62));
    TextureProj lamp(nullptr), shade(nullptr);
    lamp.volume = boxVolume(10.0f, 150.0f, -90.0f, 40.0f);
    terrain->addTexProj(&lamp);
    terrain->addTexProj(&lamp);
    terrain->addTexProj(&shade);
    shade.disabled = 1;
    EXPECT_EQ(terrain->projections.count(), 2);
    terrain->startLod(cameraAt({0, 100, 0}));
    terrain->update(cameraAt({0, 100, 0}));
    int reached = 0;
    for (const Terrain::Patch& patch : terrain->patches) {
        if (!patch.detail)
            continue;
        const bool within = patch.leaf->maximum.x > 10.0f && patch.leaf->minimum.x < 150.0f &&
                            patch.leaf->maximum.z > -90.0f && patch.leaf->minimum.z < 40.0f;
        EXPECT_EQ(patch.detail->projectionCount, within ? 1 : 0) << patch.index;
        if (patch.detail->projectionCount) {
            EXPECT_EQ(*patch.detail->projections.at(0), &lamp);
            ++reached;
        }
    }
    EXPECT_EQ(reached, 2 * 2); // x 0..192 and z -96..96
    // Removing one the terrain never had changes nothing; the list forgets.
    TextureProj stranger(nullptr);
    terrain->removeTexProj(&stranger);
    EXPECT_EQ(terrain->projections.count(), 2);
    terrain->removeTexProj(&lamp);
    terrain->update(cameraAt({0, 100, 0}));
    for (const Terrain::Patch& patch : terrain->patches)
        if (patch.detail) {
            EXPECT_EQ(patch.detail->projectionCount, 0);
        }
    terrain->removeTexProj(&shade);
    EXPECT_EQ(terrain->projections.count(), 0);
}

TEST(TerrainLayers, ASunThatBarelyMovedLeavesTheLight)
{
    Terrain::PatchLight light;
    light.init(0.78f);
    const float white[4] = {1, 1, 1, 1}, grey[4] = {0.5f, 0.5f, 0.5f, 1};
    EXPECT_TRUE(light.trackSunChange({0, 1, 0}, white, grey));
    EXPECT_FALSE(light.trackSunChange({0, 1, 0}, white, grey));
    const float nearlyWhite[4] = {0.99f, 0.99f, 0.99f, 1};
    EXPECT_FALSE(light.trackSunChange({0, 1, 0}, nearlyWhite, grey));
    EXPECT_EQ(light.diffuse[0], 1.0f);
    const float dimmer[4] = {0.8f, 0.8f, 0.8f, 1};
    EXPECT_TRUE(light.trackSunChange({0, 1, 0}, dimmer, grey));
    EXPECT_EQ(light.diffuse[0], 0.8f);
    EXPECT_TRUE(light.trackSunChange(vec3d{0, 0.8f, 0.6f}, dimmer, grey));
    EXPECT_EQ(light.direction, vec3d(0, 0.8f, 0.6f));
}

TEST(TerrainLayers, TheLitColourIsTheLayerInTheSun)
{
    const uint16_t colour = 0x8410; // 16, 32, 16 of 31, 63, 31
    auto map = heightMap(128, [](int32_t, int32_t) { return 50.0f * 256; });
    map.layers.push_back(flatLayer(colour, 0, 255));
    auto terrain = load(map);
    uint32_t argb = 0;
    EXPECT_FALSE(terrain->sampleLight(10.0f, 20.0f, argb)); // no detail record yet
    terrain->startLod(cameraAt({0, 100, 0}));
    terrain->material.Diffuse = {0.5f, 1.0f, 1.0f, 1.0f};
    terrain->material.Ambient = {0.2f, 0.2f, 0.2f, 1.0f};
    // Without a current light the noon default lights the ground: the sun
    // along x, so flat ground gets the ambient part only.
    ASSERT_TRUE(terrain->sampleLight(10.0f, 20.0f, argb));
    const uint32_t red = 16 << 3 | 16 >> 2, green = 32 << 2 | 32 >> 4;
    EXPECT_EQ(argb >> 24, 0u);
    EXPECT_EQ((argb >> 16) & 255, uint32_t(float(red) * 0.2f * 0.6f));
    EXPECT_EQ((argb >> 8) & 255, uint32_t(float(green) * 0.2f * 0.6f));
    LightRecord overhead;
    overhead.direction = {0.0f, 1.0f, 0.0f};
    overhead.diffuse[0] = 0.9f;
    overhead.diffuse[1] = 0.7f;
    gSunLight = &overhead;
    ASSERT_TRUE(terrain->sampleLight(10.0f, 20.0f, argb));
    gSunLight = nullptr;
    EXPECT_EQ(argb >> 24, 255u);
    EXPECT_EQ((argb >> 16) & 255, uint32_t(float(red) * (0.5f * 0.9f)));
    EXPECT_EQ((argb >> 8) & 255, uint32_t(float(green) * (1.0f * 0.7f)));
    EXPECT_FALSE(terrain->sampleLight(1.0e6f, 0.0f, argb));

    // The light texels of new patches: alpha the sun's angle, each colour
    // between its ambient and its diffuse part.
    LightRecord evening;
    evening.direction = vec3d{0.0f, 0.6f, 0.8f};
    const float diffuse[4] = {0.9f, 0.7f, 0.5f, 0.1f}, ambient[4] = {0.3f, 0.2f, 0.1f, 0.9f};
    for (int c = 0; c < 4; ++c) {
        evening.diffuse[c] = diffuse[c];
        evening.ambient[c] = ambient[c];
    }
    gSunLight = &evening;
    terrain->clear();
    terrain = load(map);
    terrain->material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    terrain->material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    terrain->startLod(cameraAt({0, 100, 0}));
    gSunLight = nullptr;
    const Terrain::PatchData* data = terrain->patches[size_t(16 * 32 + 16)].detail;
    ASSERT_NE(data, nullptr);
    // Each patch's light follows the sun past thresholds of its own.
    EXPECT_GE(data->light.colourThreshold, 0.062f / 0.78f);
    EXPECT_LE(data->light.colourThreshold, 0.102f / 0.78f);
    EXPECT_GT(data->light.directionThreshold, 0.0f);
    const uint16_t texel = data->lightTexels[5][6];
    EXPECT_EQ(texel >> 12, uint32_t(0.6f * 15.0f));
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ((texel >> (8 - 4 * c)) & 15, uint32_t((ambient[c] + (diffuse[c] - ambient[c]) * 0.6f) * 15.0f)) << c;
}

TEST(TerrainLayers, ASlopeIsLitByItsOwnNormalUpToThePatchBorders)
{
    // A plane rising along x and against z: every smoothed normal of a patch
    // away from the map's edge, the ones whose window reaches into the
    // neighbours included, is the plane's normal; the lit colour follows it.
    auto map = heightMap(128, [](int32_t i, int32_t j) { return 10000.0f + 250.0f * float(i) + 80.0f * float(j); });
    map.layers.push_back(flatLayer(0xFFFF, 0, 255));
    auto terrain = load(map);
    LightRecord sun;
    sun.direction = vec3d{-0.5f, 0.7f, 0.3f}.normalised();
    gSunLight = &sun;
    terrain->startLod(cameraAt({0, 100, 0}));
    // Fine-cell slopes along the grid's two indices, in height units.
    const float alongX = 250.0f * HeightSurface::unit / 8.0f, againstZ = 80.0f * HeightSurface::unit / 8.0f;
    const vec3d slope = vec3d{-98.0f * alongX, 68.6f, 98.0f * againstZ}.normalised();
    const float lit = slope.dot(sun.direction);
    ASSERT_GT(lit, 0.5f);
    ASSERT_LT(slope.y, 0.99f);
    const int32_t n = terrain->patchesPerSide;
    int checked = 0;
    for (const Terrain::Patch& patch : terrain->patches) {
        const int32_t r = patch.index / n, c = patch.index % n;
        if (!patch.detail || r < 2 || r >= n - 2 || c < 2 || c >= n - 2)
            continue;
        ++checked;
        for (int i = 0; i < 16; ++i)
            for (int j = 0; j < 16; ++j) {
                const vec3d& normal = patch.detail->normals[i][j];
                ASSERT_NEAR(normal.x, slope.x, 1.0e-3f) << patch.index << " " << i << " " << j;
                ASSERT_NEAR(normal.y, slope.y, 1.0e-3f) << patch.index << " " << i << " " << j;
                ASSERT_NEAR(normal.z, slope.z, 1.0e-3f) << patch.index << " " << i << " " << j;
                ASSERT_EQ(patch.detail->lightTexels[i][j] >> 12, uint32_t(lit * 15.0f));
            }
    }
    EXPECT_GT(checked, 100);
    // The lit colour at a patch's corner and inside it.
    for (const vec3d& at : {vec3d{0.5f, 0, 0.5f}, vec3d{95.5f, 0, -95.5f}, vec3d{-40.0f, 0, 130.0f}}) {
        uint32_t argb = 0;
        ASSERT_TRUE(terrain->sampleLight(at.x, at.z, argb));
        EXPECT_NEAR(double(argb >> 24), 255.0 * lit, 1.0);
    }
    gSunLight = nullptr;
}

TEST(TerrainLayers, BandsBlendAcrossTheirOverlap)
{
    const uint16_t red = 0xF800, blue = 0x001F, green = 0x07E0;
    auto mapAt = [&](float units, std::vector<TerrainMapWriter::Layer> layers) {
        auto map = heightMap(128, [units](int32_t, int32_t) { return units * 256.0f; });
        map.layers = std::move(layers);
        return map;
    };
    auto texelAt = [](Terrain& t) {
        t.startLod(cameraAt({0, 100, 0}));
        const Terrain::PatchData* data = t.patches[size_t(16 * 32 + 16)].detail;
        return data ? data->colours[7][9] : uint16_t(0xDEAD);
    };
    const std::vector<std::pair<float, uint16_t>> cases = {
        {50.0f, red},
        {110.0f, uint16_t(15 << 11 | 15)}, // half way across 100..120
        {200.0f, blue},
    };
    for (const auto& [units, texel] : cases) {
        auto t = load(mapAt(units, {flatLayer(red, 0, 120), flatLayer(blue, 100, 255)}));
        EXPECT_EQ(texelAt(*t), texel) << units;
    }
    auto t = load(mapAt(110.0f, {flatLayer(red, 0, 120), flatLayer(blue, 100, 255)}));
    EXPECT_FLOAT_EQ(t->blend[100].firstWeight, 1.0f);
    EXPECT_FLOAT_EQ(t->blend[110].firstWeight, 0.5f);
    EXPECT_EQ(t->blend[121].first, t->layers[1].pixels.data());
    EXPECT_EQ(t->blend[121].second, nullptr);
    // Bands that only touch: the first layer keeps the whole weight.
    auto touching = load(mapAt(100.0f, {flatLayer(red, 0, 100), flatLayer(blue, 100, 255)}));
    EXPECT_FLOAT_EQ(touching->blend[100].firstWeight, 1.0f);
    EXPECT_EQ(texelAt(*touching), red);
    // A band inside another: the earlier layer is the first image.
    auto inner = load(mapAt(90.0f, {flatLayer(green, 80, 100), flatLayer(red, 0, 255)}));
    EXPECT_EQ(inner->blend[90].first, inner->layers[0].pixels.data());
    // No band: no colour.
    auto none = load(mapAt(90.0f, {flatLayer(red, 0, 50)}));
    EXPECT_EQ(texelAt(*none), 0);
}

}

namespace {

// A caller's cache of the last coarse cell: the same heights and normals as
// the plain query, near and far, with and without detail records; a reload
// of other heights is never answered from the cache.
TEST(TerrainSurface, ACachedCellGivesTheSameGroundUntilTheHeightsChange)
{
    const float h = 2.5f, half = 4.0f * 128 * h;
    auto terrain = std::make_unique<Terrain>();
    const auto reload = [&](uint32_t seed) {
        const std::vector<uint8_t> bytes = mapBytes(randomMap(128, seed));
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        return terrain->load(nullptr, settings(h, 1.25f), stream);
    };
    ASSERT_TRUE(reload(9));
    std::mt19937 random(11);
    std::uniform_real_distribution<float> anywhere(-half, half), nudge(-3.0f, 3.0f);
    Terrain::HeightCache cache;
    const auto compare = [&](const char* when) {
        float x = 0.0f, z = 0.0f;
        for (int k = 0; k < 3000; ++k) {
            // Mostly small moves (as a wheel's probe makes), now and then a jump.
            if (k % 10 == 0) {
                x = anywhere(random);
                z = anywhere(random);
            } else {
                x = std::clamp(x + nudge(random), -half, half);
                z = std::clamp(z + nudge(random), -half, half);
            }
            const int resolution = k % 40 < 30 ? 3 : k % 4;
            vec3d plain, cached;
            const float want = terrain->getHeight(x, z, resolution, plain);
            ASSERT_EQ(terrain->getHeight(x, z, resolution, cached, &cache), want) << when << " " << k;
            ASSERT_EQ(cached, plain) << when << " " << k;
        }
    };
    compare("without detail records");
    terrain->startLod(cameraAt({0, 200, 0}, 2000.0f));
    compare("with detail records");

    // Other heights under the same cell: the cache is not asked.
    const float x = 13.0f, z = -7.0f;
    vec3d normal;
    const float before = terrain->getHeight(x, z, 3, normal, &cache);
    terrain->clear();
    EXPECT_EQ(terrain->getHeight(x, z, 3, normal, &cache), Terrain::missing);
    ASSERT_TRUE(reload(21));
    const float after = terrain->getHeight(x, z, 3, normal);
    ASSERT_NE(after, before);
    EXPECT_EQ(terrain->getHeight(x, z, 3, normal, &cache), after);
}

}
