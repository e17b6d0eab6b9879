// Grass layers without a device: the patch grid against a brute-force range
// test, where blades may grow, how they fade, their colours and shapes, the
// light without the terrain's, and bending.
#include "TerrainTestMaps.h"
#include "WaterFileWriter.h"

#include "Landscape/GrasLayer.h"
#include "Landscape/Water.h"

#include "Render/BufferPool.h"
#include "Render/Camera.h"
#include "Render/Light.h"
#include "Render/TextureProj.h"

#include "Core/FileArray.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <utility>

namespace {

using namespace TerrainTestMaps;
using Layer = Meadow::GrasLayer;
using Cell = std::pair<int32_t, int32_t>;

// A repeatable random source in the runtime's range.
std::function<int32_t()> seeded(uint32_t seed)
{
    return [state = seed]() mutable {
        state = state * 1103515245u + 12345u;
        return int32_t((state >> 16) & 0x7FFF);
    };
}

Camera cameraAt(const vec3d& position, float yaw = 0.0f, float pitch = 0.0f)
{
    Camera camera;
    camera.setProjection({320, 240});
    camera.position = position;
    camera.angles = {yaw, pitch, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    return camera;
}

// Grass that grows anywhere on the ground.
Layer::Settings anywhere(uint32_t blades = 4)
{
    Layer::Settings s;
    s.bladesPerPatch = blades;
    s.minimumNormal = 0.0f;
    s.minimumGround = -1.0e6f;
    s.maximumGround = 1.0e6f;
    s.range = 600.0f;
    s.fadeStart = 400.0f;
    return s;
}

class GrasLayers : public testing::Test
{
protected:
    void SetUp() override
    {
        meadow.terrain = flat.get();
        meadow.water = nullptr;
        meadow.random = seeded(7);
    }
    Layer& addLayer(const Layer::Settings& s)
    {
        Layer* layer = new Layer(&meadow, s);
        layer->state = Layer::ready;
        meadow.layers.append(layer);
        return *layer;
    }
    static std::set<Cell> cellsOf(const Layer& layer)
    {
        std::set<Cell> cells;
        for (auto* node = layer.patches.head(); node; node = node->next)
            cells.insert({node->item->cellX, node->item->cellZ});
        return cells;
    }

    // 128 x 128 level ground (x and z from -1536 to 1536).
    std::unique_ptr<Terrain> flat = load(heightMap(128, [](int32_t, int32_t) { return 8000.0f; }));
    Meadow meadow;
};

// Cells whose centre lies within range - 64 of (x, z), by trying every cell.
std::set<Cell> inRange(float x, float z, float range)
{
    std::set<Cell> cells;
    const float reach = range - 64.0f;
    for (int32_t j = -40; j <= 40; ++j)
        for (int32_t i = -40; i <= 40; ++i) {
            const float dx = float(i) * 128.0f + 64.0f - x, dz = float(j) * 128.0f + 64.0f - z;
            if (dx * dx + dz * dz <= reach * reach)
                cells.insert({i, j});
        }
    return cells;
}

TEST_F(GrasLayers, ThePatchGridFollowsTheCameraCellByCell)
{
    Layer& layer = addLayer(anywhere());
    std::mt19937 random(3);
    std::uniform_real_distribution<float> step(-45.0f, 45.0f), jump(-800.0f, 800.0f);
    vec3d camera{10.0f, 100.0f, -20.0f};
    std::map<Cell, const Layer::Patch*> before;
    for (int move = 0; move < 200; ++move) {
        layer.updatePatchGrid(camera);
        const std::set<Cell> want = inRange(camera.x, camera.z, layer.settings.range);
        ASSERT_EQ(cellsOf(layer), want) << move;
        std::map<Cell, const Layer::Patch*> now;
        for (auto* node = layer.patches.head(); node; node = node->next)
            now[{node->item->cellX, node->item->cellZ}] = node->item;
        // A cell that stays in range keeps its patch: only the rows that
        // enter are made and only those that leave go.
        for (const auto& [cell, patch] : before)
            if (now.count(cell)) {
                ASSERT_EQ(now[cell], patch) << move;
            }
        EXPECT_EQ(layer.patchSetChanged != 0, before.empty() || cellsOf(layer) != [&] {
            std::set<Cell> old;
            for (const auto& entry : before)
                old.insert(entry.first);
            return old;
        }()) << move;
        before = now;
        layer.patchSetChanged = 0;
        // Small steps, now and then a jump; within the ground's reach.
        camera.x = std::clamp(move % 25 == 24 ? jump(random) : camera.x + step(random), -700.0f, 700.0f);
        camera.z = std::clamp(move % 25 == 24 ? jump(random) : camera.z + step(random), -700.0f, 700.0f);
    }

    // A move within one cell that no cell's range answer notices.
    camera = {64.0f, 100.0f, 64.0f};
    layer.updatePatchGrid(camera);
    const std::set<Cell> cells = cellsOf(layer);
    layer.patchSetChanged = 0;
    const Layer::Patch* first = layer.patches.head()->item;
    layer.updatePatchGrid({66.0f, 100.0f, 63.0f});
    ASSERT_EQ(inRange(66.0f, 63.0f, layer.settings.range), cells);
    EXPECT_EQ(cellsOf(layer), cells);
    EXPECT_EQ(layer.patchSetChanged, 0u);
    EXPECT_EQ(layer.patches.head()->item, first);

    // New settings throw every patch away; the next update builds them anew.
    layer.applySettings();
    EXPECT_EQ(layer.patches.count(), 0);
    layer.updatePatchGrid({66.0f, 100.0f, 63.0f});
    EXPECT_EQ(cellsOf(layer), cells);
}

// Stands in for the road network: a band of ground along z is a way that
// lowers the ground, a narrower one beside it a paved road.
struct WayBand final : Meadow::Ways
{
    int32_t isOnWay(float x, float) override { return x >= 100.0f && x <= 400.0f; }
    int32_t isOnPavement(float x, float) override { return x >= -60.0f && x <= 20.0f; }
};

TEST_F(GrasLayers, EveryBladeObeysTheRulesOfItsLayer)
{
    const auto hills = load(randomMap(128, 11));
    meadow.terrain = hills.get();
    WayBand ways;
    meadow.ways = &ways;
    // A pool over a stretch of the hills, its level the ground's middle height there.
    const float level = hills->getHeight(0.0f, 0.0f, 2);
    WaterFileWriter::Area pool;
    pool.level = level;
    pool.outline = {{-400.0f, -400.0f}, {400.0f, -400.0f}, {400.0f, 400.0f}, {-400.0f, 400.0f}};
    pool.indices = {0, 1, 2, 0, 2, 3};
    pool.boxAroundOutline(200.0f);
    FileArray bytes(256);
    WaterFileWriter::write({pool}, bytes);
    bytes.seek(0, 0);
    Water water;
    water.read(nullptr, bytes);
    ASSERT_EQ(water.dormant.count(), 1);
    meadow.water = &water;

    struct Case
    {
        uint32_t onWater, onWay;
        float minimumNormal, maximumNormal, low, high, sink;
        bool areas;
    };
    const Case cases[] = {
        {0, 0, 0.9f, 1.0f, -1.0e6f, 1.0e6f, 0.0f, false},
        {1, 0, 0.0f, 1.0f, -1.0e6f, 1.0e6f, 2.0f, false},
        {0, 1, 0.9f, 0.999f, level - 40.0f, level + 40.0f, 0.0f, false},
        {1, 1, 0.0f, 1.0f, -1.0e6f, level - 5.0f, 0.0f, false},
        {0, 0, 0.0f, 1.0f, -1.0e6f, 1.0e6f, 0.0f, true},
    };
    for (const Case& c : cases) {
        Layer::Settings s = anywhere(60);
        s.onWater = c.onWater;
        s.onWay = c.onWay;
        s.minimumNormal = c.minimumNormal;
        s.maximumNormal = c.maximumNormal;
        s.minimumGround = c.low;
        s.maximumGround = c.high;
        s.sinkDepth = c.sink;
        Layer layer(&meadow, s);
        layer.state = Layer::ready;
        if (c.areas) {
            layer.circles.append(new Layer::Circle{0.0f, 0.0f, 300.0f * 300.0f});
            layer.rectangles.append(new Layer::Rectangle{-100.0f, -500.0f, 500.0f, 500.0f});
        }
        layer.updatePatchGrid({50.0f, 300.0f, 0.0f});
        int blades = 0;
        for (auto* node = layer.patches.head(); node; node = node->next)
            for (uint32_t k = 0; k < node->item->bladeCount; ++k) {
                const Layer::Blade& b = node->item->blades[k];
                const vec3d& p = b.position;
                const float ground = hills->getHeight(p.x, p.z, 2);
                const vec3d normal = Terrain::lastGroundNormal().normalised();
                EXPECT_EQ(p.y, ground - c.sink);
                EXPECT_TRUE(normal.y >= c.minimumNormal && normal.y <= c.maximumNormal);
                EXPECT_TRUE(p.y > c.low && p.y < c.high);
                EXPECT_EQ(water.dormant.head()->item->isPointInWater(p), int32_t(c.onWater));
                EXPECT_EQ(ways.isOnWay(p.x, p.z), int32_t(c.onWay));
                EXPECT_EQ(ways.isOnPavement(p.x, p.z), 0) << "no blade on a paved road";
                if (c.areas) {
                    EXPECT_LE(p.x * p.x + p.z * p.z, 300.0f * 300.0f);
                    EXPECT_TRUE(p.x >= -100.0f && p.x <= 500.0f);
                }
                // The patch's box holds the blade standing at full height.
                const Layer::Patch& patch = *node->item;
                EXPECT_TRUE(p.x >= patch.minimum.x && p.x <= patch.maximum.x && p.z >= patch.minimum.z &&
                            p.z <= patch.maximum.z && p.y >= patch.minimum.y &&
                            p.y + s.maximumHeight <= patch.maximum.y);
                ++blades;
            }
        EXPECT_GT(blades, 100) << c.onWater << c.onWay;
    }
}

TEST_F(GrasLayers, BladesFadeWithTheirPatchsDistance)
{
    // A new patch is lit on its first frame; a far one then streams on the
    // second and, the camera steady, is cached again on the fourth. At
    // exactly its fade distance a blade is hidden, a little inside it shows,
    // faint and small. A fade twice as long as its start never turns the
    // opacity round.
    struct Case
    {
        float fadeStart, range, distance;
        int frames;
        uint32_t state;
    };
    const Case cases[] = {
        {400.0f, 600.0f, 450.0f, 2, Layer::streamingPatch},
        {400.0f, 600.0f, 450.0f, 4, Layer::cachedPatch},
        {100.0f, 700.0f, 300.0f, 2, Layer::streamingPatch},
        {100.0f, 700.0f, 80.0f, 2, Layer::streamingPatch},
    };
    for (const Case& c : cases) {
        Layer::Settings s = anywhere(20);
        s.fadeStart = c.fadeStart;
        s.range = c.range;
        Layer& layer = addLayer(s);
        const Camera camera = cameraAt({64.0f - c.distance, 20.0f, 64.0f}, -90.0f, 0.0f);
        Layer::Patch* patch = nullptr;
        float d = 0.0f;
        for (int frame = 1; frame <= c.frames; ++frame) {
            if (frame == c.frames) {
                patch = layer.findPatch(0, 0);
                ASSERT_NE(patch, nullptr);
                d = (patch->centre - camera.position).lengthSq();
                for (int k = 0; k < 2; ++k)
                    patch->blades[k].built = 0; // shown anew
                patch->blades[0].fadeDistanceSq = d;
                patch->blades[1].fadeDistanceSq = d * 1.0001f;
            }
            layer.update(camera);
        }
        ASSERT_TRUE(patch->active);
        EXPECT_EQ(patch->state, c.state) << c.distance;
        EXPECT_EQ(patch->blades[0].hidden, 1u);
        EXPECT_EQ(patch->blades[1].hidden, 0u);
        EXPECT_GT(patch->blades[1].opacity, 0.0f);
        EXPECT_LT(patch->blades[1].opacity, 0.01f);
        uint32_t visible = 0;
        for (uint32_t k = 0; k < patch->bladeCount; ++k) {
            const Layer::Blade& b = patch->blades[k];
            if (b.hidden)
                continue;
            ++visible;
            EXPECT_TRUE(b.opacity > 0.0f && b.opacity <= 1.0f) << c.fadeStart << " " << c.distance;
            EXPECT_GT(b.fadeDistanceSq, d);
        }
        EXPECT_EQ(patch->visibleCount, visible);
        meadow.clear();
    }
}

TEST_F(GrasLayers, ThePatchesInViewAreDrawnFarthestFirst)
{
    Layer& layer = addLayer(anywhere());
    const Camera camera = cameraAt({0.0f, 60.0f, 0.0f}, 30.0f, -10.0f);
    layer.update(camera);
    ASSERT_GT(layer.drawCount, 5u);
    int active = 0;
    for (auto* node = layer.patches.head(); node; node = node->next)
        active += node->item->active != 0;
    EXPECT_EQ(layer.drawCount, uint32_t(active));
    EXPECT_LT(active, layer.patches.count()); // those behind the camera are not
    for (uint32_t i = 0; i < layer.drawCount; ++i) {
        const Layer::Patch& p = **layer.drawList.at(int32_t(i));
        EXPECT_TRUE(p.active);
        EXPECT_NE(camera.frustum.classifyBox(p.minimum, p.maximum), ConvexVolume::outside);
        if (i > 0) {
            EXPECT_GE((*layer.drawList.at(int32_t(i - 1)))->distanceSq, p.distanceSq);
        }
    }
    // Blades of a patch lie farthest first from where the camera stood.
    const Layer::Patch& patch = **layer.drawList.at(0);
    for (uint32_t k = 1; k < patch.bladeCount; ++k)
        EXPECT_GE(patch.blades[patch.order[k - 1]].distanceSq, patch.blades[patch.order[k]].distanceSq);
    // Turned away, the view holds other patches.
    layer.update(cameraAt({0.0f, 60.0f, 0.0f}, 210.0f, -10.0f));
    for (uint32_t i = 0; i < layer.drawCount; ++i)
        EXPECT_LT((*layer.drawList.at(int32_t(i)))->centre.z, 200.0f);
}

// A range given up rests two updates (the device may still draw from it),
// then goes back to its pool; one that came from no pool is left alone.
TEST_F(GrasLayers, AGivenUpRangeRestsTwoUpdatesBeforeItIsFree)
{
    Layer& layer = addLayer(anywhere());
    const Camera camera = cameraAt({0.0f, 60.0f, 0.0f});
    BufferPool pool;
    ASSERT_TRUE(BufferPool::initRanges(pool, 100));
    BufferRange* pooled = BufferPool::allocRange(pool, 40);
    ASSERT_NE(pooled, nullptr);
    BufferRange loose;
    loose.count = 40;
    loose.used = 1;
    BufferRange* given[] = {pooled, &loose, nullptr};
    for (BufferRange*& range : given) {
        layer.retire(range);
        EXPECT_EQ(range, nullptr);
    }
    struct Step
    {
        const char* what;
        uint32_t poolFree; // elements of the pool's first range, when free
    };
    const Step steps[] = {{"given up", 0}, {"one update later", 0}, {"two updates later", 100}};
    for (const Step& step : steps) {
        EXPECT_EQ(pool.firstRange->used == 0 ? pool.firstRange->count : 0u, step.poolFree) << step.what;
        EXPECT_EQ(loose.used, 1u) << step.what;
        EXPECT_EQ(loose.count, 40u) << step.what;
        layer.update(camera);
    }
    EXPECT_TRUE(layer.retired[0].empty());
    EXPECT_TRUE(layer.retired[1].empty());
}

TEST_F(GrasLayers, ColoursVaryOnlyWithinTheirVariation)
{
    for (uint32_t variation : {0u, 1u, 16u, 300u}) {
        Layer::Settings s = anywhere(50);
        s.colour = Color(200, 5, 128, 77);
        s.colourVariation = variation;
        Layer layer(&meadow, s);
        layer.state = Layer::ready;
        layer.updatePatchGrid({0.0f, 50.0f, 0.0f});
        // Each channel varies on its own.
        bool varied[3] = {};
        for (auto* node = layer.patches.head(); node; node = node->next)
            for (uint32_t k = 0; k < node->item->bladeCount; ++k) {
                const Color c = node->item->blades[k].colour;
                const uint32_t limit = variation ? variation : 1;
                EXPECT_LT(uint8_t(200 - c.r) % 256u, limit);
                EXPECT_LT(uint8_t(5 - c.g) % 256u, limit);
                EXPECT_LT(uint8_t(128 - c.b) % 256u, limit);
                EXPECT_EQ(c.a, 77);
                varied[0] = varied[0] || c.r != 200;
                varied[1] = varied[1] || c.g != 5;
                varied[2] = varied[2] || c.b != 128;
            }
        for (bool v : varied)
            EXPECT_EQ(v, variation > 1) << variation;
    }
}

TEST_F(GrasLayers, EveryShapeHasItsVerticesAndShrinksAsItFades)
{
    Layer::Blade blade;
    blade.position = {10.0f, 5.0f, -3.0f};
    blade.direction = {0.0f, 1.0f, 0.0f};
    blade.height = 8.0f;
    blade.widthA = {2.0f, 0.0f, 0.0f};
    blade.widthB = {0.0f, 0.0f, 2.0f};
    blade.litColour = Color(1, 2, 3, 4);
    struct Case
    {
        uint32_t shape, vertices;
        float reachX, reachZ; // largest offsets from the stem
    };
    const Case cases[] = {{1, 4, 2, 0}, {2, 8, 2, 2}, {3, 12, 2, 2}, {4, 16, 2, 2}, {5, 4, 2, 2}};
    for (const Case& c : cases)
        for (float opacity : {1.0f, 0.5f}) {
            Layer::Settings s;
            s.shape = c.shape;
            Layer layer(&meadow, s);
            ASSERT_EQ(layer.verticesPerBlade, c.vertices);
            blade.opacity = opacity;
            Meadow::Vertex out[20] = {};
            const Meadow::Vertex* end = layer.writeBladeVertices(blade, out);
            ASSERT_EQ(end - out, ptrdiff_t(c.vertices));
            float reachX = 0.0f, reachZ = 0.0f;
            for (uint32_t v = 0; v < c.vertices; ++v) {
                const Meadow::Vertex& x = out[v];
                EXPECT_EQ(x.colour, blade.litColour.argb());
                // The roots stand on the ground and the tips at the height,
                // except the flat top of shape 5.
                const float want = c.shape == 5 || x.v == 0.0f ? 5.0f + 8.0f * opacity : 5.0f;
                EXPECT_FLOAT_EQ(x.position.y, want) << c.shape << " " << v;
                reachX = std::max(reachX, std::fabs(x.position.x - 10.0f));
                reachZ = std::max(reachZ, std::fabs(x.position.z + 3.0f));
            }
            EXPECT_FLOAT_EQ(reachX, c.reachX * opacity) << c.shape;
            EXPECT_FLOAT_EQ(reachZ, c.reachZ * opacity) << c.shape;
        }
}

TEST_F(GrasLayers, LightWithoutTheTerrainsComesFromTheSun)
{
    // The test terrain has no patch in view, so its light is never there:
    // a few looks nearby, then the sun's light on the level's material,
    // from the ambient (sun level with the ground) to the diffuse (sun overhead).
    int draws = 0;
    meadow.random = [&] { return ++draws, 16000; };
    flat->material.Ambient = {0.5f, 0.25f, 0.125f, 1.0f};
    flat->material.Diffuse = {0.75f, 1.0f, 0.5f, 1.0f};
    LightRecord sun;
    sun.ambient[0] = sun.ambient[1] = sun.ambient[2] = 0.8f;
    sun.diffuse[0] = sun.diffuse[1] = sun.diffuse[2] = 1.0f;
    LightRecord* const previous = gSunLight;
    gSunLight = &sun;
    Layer::Settings s;
    s.colour = Color(200, 100, 240, 99);
    s.lighting = 1;
    Layer terrainLit(&meadow, s);
    s.lighting = 0;
    Layer sunLit(&meadow, s);
    struct Case
    {
        vec3d sunDirection;
        Color lit;
    };
    const Case cases[] = {
        {{1.0f, 0.0f, 0.0f}, Color(80, 20, 24, 99)},   // 200 x 0.5 x 0.8, 100 x 0.25 x 0.8, 240 x 0.125 x 0.8
        {{0.0f, 1.0f, 0.0f}, Color(150, 100, 120, 99)}, // 200 x 0.75, 100 x 1, 240 x 0.5
        {{0.0f, -1.0f, 0.0f}, Color(80, 20, 24, 99)},  // from below: the ambient
        {{0.8f, 0.6f, 0.0f}, Color(122, 68, 81, 99)},  // 0.6 of the way from the ambient to the diffuse
    };
    for (const Case& c : cases) {
        sun.direction = c.sunDirection;
        Layer::Blade blade;
        blade.position = {0.0f, 35.0f, 0.0f};
        blade.groundNormal = {0.0f, 1.0f, 0.0f};
        blade.colour = s.colour;
        draws = 0;
        terrainLit.lightBlade(blade);
        EXPECT_LE(draws, 8);
        const Color fromTerrain = blade.litColour;
        sunLit.lightBlade(blade);
        EXPECT_EQ(fromTerrain, blade.litColour);
        EXPECT_NEAR(blade.litColour.r, c.lit.r, 1) << c.sunDirection.x;
        EXPECT_NEAR(blade.litColour.g, c.lit.g, 1) << c.sunDirection.x;
        EXPECT_NEAR(blade.litColour.b, c.lit.b, 1) << c.sunDirection.x;
        EXPECT_EQ(blade.litColour.a, 99);
    }
    gSunLight = previous;
}

TEST_F(GrasLayers, ABladeShownAgainLeansNoFurther)
{
    Layer::Settings s = anywhere(1);
    s.tilt = 20;
    Layer layer(&meadow, s);
    Layer::Blade blade;
    blade.groundNormal = {0.0f, 1.0f, 0.0f};
    blade.scale = 1.0f;
    layer.initBlade(blade);
    // Two turns of at most 10 degrees each: never more than 15 from upright.
    const float most = floatCos(15.0f * 0.017453292f);
    float least = 1.0f;
    for (int build = 0; build < 200; ++build) {
        layer.buildBlade(blade);
        least = std::min(least, blade.restDirection.dot(blade.groundNormal));
        EXPECT_EQ(blade.direction, blade.restDirection);
    }
    EXPECT_GE(least, most);
    EXPECT_LT(least, floatCos(5.0f * 0.017453292f)); // it does lean
}

// A projection whose volume is the box from low to high.
void boxVolume(TextureProj& projection, const vec3d& low, const vec3d& high)
{
    const vec3d normals[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    ConvexVolume& v = projection.volume;
    v.count = 6;
    for (int a = 0; a < 3; ++a) {
        v.planes[2 * a] = {normals[a], low[a], low};
        v.planes[2 * a + 1] = {-normals[a], -high[a], high};
    }
}

TEST_F(GrasLayers, ProjectionsReachTheNearPatchesInTheirVolume)
{
    Layer& layer = addLayer(anywhere());
    const Camera camera = cameraAt({64.0f, 60.0f, -100.0f});
    TextureProj nearby(nullptr), distant(nullptr), off(nullptr), idle(nullptr);
    boxVolume(nearby, {-100.0f, -1000.0f, -50.0f}, {200.0f, 1000.0f, 150.0f});
    boxVolume(distant, {-300.0f, -1000.0f, 400.0f}, {300.0f, 1000.0f, 500.0f}); // beyond 400 units
    boxVolume(off, {-100.0f, -1000.0f, -50.0f}, {200.0f, 1000.0f, 150.0f});
    boxVolume(idle, {-100.0f, -1000.0f, -50.0f}, {200.0f, 1000.0f, 150.0f});
    off.disabled = 1;
    idle.active = 0;
    for (TextureProj* p : {&nearby, &nearby, &distant, &off, &idle})
        meadow.addTexProj(p);
    EXPECT_EQ(meadow.projections.count(), 4);
    layer.update(camera);
    std::set<const Layer::Patch*> reached;
    for (uint32_t i = 0; i < layer.projectionCount; ++i) {
        const Layer::PatchTexProj& pair = *layer.patchProjections.at(int32_t(i));
        EXPECT_EQ(pair.projection, &nearby);
        reached.insert(pair.patch);
    }
    std::set<const Layer::Patch*> want;
    for (auto* node = layer.patches.head(); node; node = node->next) {
        const Layer::Patch& p = *node->item;
        if (p.active && p.distanceSq < 400.0f * 400.0f &&
            nearby.volume.classifyBox(p.minimum, p.maximum) != ConvexVolume::outside)
            want.insert(&p);
    }
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(reached, want);
    EXPECT_EQ(layer.projectionCount, uint32_t(want.size()));

    // A layer that takes no projections, and a projection taken away.
    layer.receivesProjections = 0;
    layer.update(camera);
    EXPECT_EQ(layer.projectionCount, 0u);
    layer.receivesProjections = 1;
    meadow.removeTexProj(&nearby);
    meadow.removeTexProj(&nearby);
    layer.update(camera);
    EXPECT_EQ(layer.projectionCount, 0u);
    EXPECT_EQ(meadow.projections.count(), 3);
    meadow.projections.clear(false);
}

TEST_F(GrasLayers, EqualNormalLimitsStillGrowBladesOfTheirHeight)
{
    Layer::Settings s = anywhere(10);
    s.minimumNormal = s.maximumNormal = 1.0f;
    Layer& layer = addLayer(s);
    layer.update(cameraAt({64.0f, 40.0f, -100.0f}));
    int built = 0;
    for (auto* node = layer.patches.head(); node; node = node->next)
        for (uint32_t k = 0; k < node->item->bladeCount; ++k)
            if (const Layer::Blade& b = node->item->blades[k]; b.built) {
                EXPECT_TRUE(b.height >= s.minimumHeight && b.height <= s.maximumHeight) << b.height;
                EXPECT_TRUE(std::isfinite(b.widthA.x) && std::isfinite(b.widthB.z));
                ++built;
            }
    EXPECT_GT(built, 10);
}

TEST_F(GrasLayers, BladesBendUnderABodyAndStandUpAgain)
{
    Layer::Settings s = anywhere(60);
    s.tilt = 40;
    Layer& layer = addLayer(s);
    const Camera camera = cameraAt({64.0f, 30.0f, -60.0f});
    layer.update(camera);
    Layer::Patch* patch = layer.findPatch(0, 0);
    ASSERT_NE(patch, nullptr);
    ASSERT_TRUE(patch->active);
    // A ball resting on the grass of the patch's middle.
    const vec3d ground = patch->blades[0].position;
    Meadow::TouchBody* body = new Meadow::TouchBody;
    body->push = 10.0f;
    auto* ball = new Meadow::TouchBody::Sphere{{ground.x + 2.0f, ground.y + 9.0f, ground.z}, 1.0f / 8.0f, 64.0f};
    body->spheres.append(ball);
    body->box.minimum = ball->centre - vec3d{8.0f, 8.0f, 8.0f};
    body->box.maximum = ball->centre + vec3d{8.0f, 8.0f, 8.0f};
    meadow.touchBodies.append(body);
    for (int frame = 0; frame < 4; ++frame)
        layer.update(camera);
    EXPECT_EQ(patch->state, Layer::streamingPatch);
    int bent = 0;
    for (uint32_t k = 0; k < patch->bladeCount; ++k) {
        const Layer::Blade& b = patch->blades[k];
        if (b.bendX != 0.0f || b.bendZ != 0.0f) {
            ++bent;
            EXPECT_LT(b.direction.dot(b.restDirection), 0.9999f);
        }
    }
    EXPECT_GT(bent, 0);

    // Once the ball has gone the blades spring back, faster as the frames
    // pass, and the patch rests.
    meadow.touchBodies.deleteAll();
    const float factor = gFrameFactor.load();
    gFrameFactor.store(1.0f);
    for (int frame = 0; frame < 600 && patch->touched; ++frame)
        layer.update(camera);
    gFrameFactor.store(factor);
    EXPECT_EQ(patch->touched, 0u);
    for (uint32_t k = 0; k < patch->bladeCount; ++k) {
        const Layer::Blade& b = patch->blades[k];
        if (!b.hidden) {
            EXPECT_GT(b.direction.dot(b.restDirection), 0.999f);
        }
    }
}

// A body of one sphere or one box (centre, half size).
std::unique_ptr<Meadow::TouchBody> body(const vec3d& centre, float radius, bool box, float push = 10.0f)
{
    auto b = std::make_unique<Meadow::TouchBody>();
    b->push = push;
    if (box) {
        auto* o = new OrientedBox;
        o->center = centre;
        o->axes[0] = {1, 0, 0};
        o->axes[1] = {0, 1, 0};
        o->axes[2] = {0, 0, 1};
        o->halfExtents = {radius, radius, radius};
        b->boxes.append(o);
    } else {
        b->spheres.append(new Meadow::TouchBody::Sphere{centre, 1.0f / radius, radius * radius});
    }
    b->box.minimum = centre - vec3d{radius, radius, radius};
    b->box.maximum = centre + vec3d{radius, radius, radius};
    return b;
}

TEST_F(GrasLayers, BendingRules)
{
    Layer layer(&meadow, Layer::Settings{});
    // A blade 10 long at (100, 0, 100) leaning a little towards +x.
    auto blade = [] {
        Layer::Blade b;
        b.position = {100.0f, 0.0f, 100.0f};
        b.groundNormal = {0.0f, 1.0f, 0.0f};
        b.restDirection = vec3d{0.2f, 1.0f, 0.0f}.normalised();
        b.direction = b.restDirection;
        b.height = 10.0f;
        b.opacity = 1.0f;
        return b;
    };
    const float factor = gFrameFactor.load();
    gFrameFactor.store(1.0f);
    struct Case
    {
        const char* what;
        vec3d centre;
        float radius;
        bool box;
        bool moves;
    };
    const Case cases[] = {
        {"a ball on the tip", {101.0f, 11.0f, 100.0f}, 4.0f, false, true},
        {"a box on the tip", {101.0f, 11.0f, 100.0f}, 3.0f, true, true},
        {"a box around the root", {100.5f, 1.0f, 100.5f}, 2.0f, true, true},
        {"a box beside it", {110.0f, 5.0f, 100.0f}, 2.0f, true, false},
        // Leaning into a box's side with its tip inside: pressed along the
        // face, the blade is not pushed over.
        {"a box's side", {105.75f, 6.75f, 100.0f}, 5.25f, true, false},
        {"a ball beside it", {90.0f, 5.0f, 90.0f}, 3.0f, false, false},
    };
    for (const Case& c : cases) {
        const auto b = body(c.centre, c.radius, c.box);
        const Meadow::TouchBody* bodies[1] = {b.get()};
        Layer::Blade x = blade();
        EXPECT_EQ(layer.bendBlade(x, bodies, 1), c.moves) << c.what;
        EXPECT_EQ(x.bendX != 0.0f || x.bendZ != 0.0f, c.moves) << c.what;
        if (c.moves) { // pressed further over the way it leans
            EXPECT_GT(x.bendX, 0.0f) << c.what;
        }
    }

    // Free of bodies, a bent blade springs back, faster each frame.
    Layer::Blade bent = blade();
    bent.bendX = 0.3f;
    bent.bendZ = -0.2f;
    bent.recoverySpeed = 0.01f;
    bent.direction = (bent.restDirection + vec3d{0.3f, 0.0f, -0.2f}).normalised();
    EXPECT_TRUE(layer.bendBlade(bent, nullptr, 0));
    EXPECT_FLOAT_EQ(bent.bendX, 0.3f * 0.99f);
    EXPECT_FLOAT_EQ(bent.bendZ, -0.2f * 0.99f);
    EXPECT_FLOAT_EQ(bent.recoverySpeed, 0.013f);

    // One whose way back runs into a body stays as it is.
    Layer::Blade held = bent;
    held.recoverySpeed = 0.5f; // a long step back: half the bend
    const float keepX = held.bendX, keepZ = held.bendZ;
    const vec3d back = (held.restDirection + vec3d{keepX * 0.5f, 0.0f, keepZ * 0.5f}).normalised();
    const auto wall = body(held.position + back * 9.0f, 0.4f, false);
    {
        // The bent blade itself passes it by.
        const vec3d c = wall->spheres.head()->item->centre - held.position;
        const vec3d nearest = held.direction * c.dot(held.direction);
        ASSERT_GT((c - nearest).length(), 0.5f);
    }
    const Meadow::TouchBody* bodies[1] = {wall.get()};
    EXPECT_FALSE(layer.bendBlade(held, bodies, 1));
    EXPECT_EQ(held.bendX, keepX);
    EXPECT_EQ(held.bendZ, keepZ);
    EXPECT_EQ(held.recoverySpeed, 0.0f);
    gFrameFactor.store(factor);
}

}
