// The sample level's water on a real device at 1024 x 768: the lake over
// its deep and shallow ground, its reflection of the valley, and the pond's
// waves through a device reset.
#include "SceneFrames.h"

#include "Entity/ParticleSystem.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Render/RenderTexture.h"

#include "Core/File.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

using TestDevice::Level;

class WaterDevice : public TestDevice::DeviceSuite
{
protected:
    static void SetUpTestSuite() { openDevice(1024, 768); }

    void SetUp() override
    {
        // The level's own hour, not one stepped on by the machine's uptime.
        gTimer.init();
        scene.swapChain = &chain();
        ASSERT_TRUE(scene.load(getModuleFolder() + L"..\\Data\\Map\\Valley.tee"));
        ASSERT_TRUE(gTerrain.isLoaded());
        // The water alone: the sample's reeds would stand in its pixels.
        chain().meadow->clear();
    }
    void TearDown() override { scene.release(); }

    Level frame(uint32_t* primitives = nullptr) { return SceneFrames::draw(scene, chain(), primitives); }
    WaterArea* area(const wchar_t* name)
    {
        for (Water::AreaList* list : {&gWater.live, &gWater.dormant})
            for (auto* node = list->head(); node; node = node->next)
                if (std::wstring(node->item->name.text()) == name)
                    return node->item;
        return nullptr;
    }

    // The pond seen from its southern shore after a frame, its waves' grids
    // built; null without a pond.
    WaterPhysics* pondWithWaves()
    {
        SceneFrames::look(chain(), {-200.0f, 60.0f, 720.0f}, 0.0f, -25.0f);
        frame();
        WaterArea* pond = area(L"Pond");
        return pond ? &pond->physics : nullptr;
    }

    Scene scene{String(L"Korvanta"), 3500.0f};
};

int difference(uint32_t a, uint32_t b)
{
    const Color x = Color::fromArgb(a), y = Color::fromArgb(b);
    return std::abs(int(x.r) - int(y.r)) + std::abs(int(x.g) - int(y.g)) + std::abs(int(x.b) - int(y.b));
}

TEST_F(WaterDevice, DeepWaterHidesTheGroundAndShallowWaterShowsIt)
{
    SceneFrames::look(chain(), {-190.0f, 140.0f, -700.0f}, 0.0f, -25.0f);
    const Level water = frame();
    gWater.enabled = 0;
    const Level ground = frame();
    gWater.enabled = 1;
    // The dip's floor lies 11 below the level; at the western rim, 2 below.
    const vec3d deep{-190.0f, 47.0f, -400.0f}, shallow{-300.0f, 47.0f, -400.0f};
    const POINT d = SceneFrames::pixelOf(chain(), deep, water);
    const POINT s = SceneFrames::pixelOf(chain(), shallow, water);
    ASSERT_TRUE(d.x > 0 && d.x < 1024 && d.y > 0 && d.y < 768);
    const int deepChange = difference(water.at(d.x, d.y), ground.at(d.x, d.y));
    const int shallowChange = difference(water.at(s.x, s.y), ground.at(s.x, s.y));
    EXPECT_GT(deepChange, 60);
    EXPECT_LT(shallowChange, deepChange / 2);
    const Color c = Color::fromArgb(water.at(d.x, d.y));
    EXPECT_GT(int(c.b), int(c.r)); // water, not the valley's green
}

// Pixels of a render target in the rows from top to bottom (fractions of
// the height) whose colour shows counts.
template <typename Shows>
int countPixels(const RenderTexture* target, float top, float bottom, Shows shows)
{
    const Level pixels = TestDevice::readSurface(target ? target->renderSurface : nullptr);
    int count = 0;
    for (uint32_t y = uint32_t(top * float(pixels.height)); y < uint32_t(bottom * float(pixels.height)); ++y)
        for (uint32_t x = 0; x < pixels.width; ++x)
            count += shows(Color::fromArgb(pixels.at(x, y))) ? 1 : 0;
    return count;
}

// Pixels that show the valley's ground.
int groundPixels(const RenderTexture* target, float top = 0.0f, float bottom = 1.0f)
{
    return countPixels(target, top, bottom, [](const Color& c) { return c.g > c.r + 15 && c.g > c.b + 15; });
}

// Pixels that show the sky's blue.
int skyPixels(const RenderTexture* target, float top = 0.0f, float bottom = 1.0f)
{
    return countPixels(target, top, bottom, [](const Color& c) { return c.b > c.r + 30 && c.b > 120; });
}

TEST_F(WaterDevice, TheNearLakeReflectsTheHills)
{
    // From the lake's eastern shore, low and level, towards the western hills.
    SceneFrames::look(chain(), {0.0f, 52.0f, -400.0f}, 90.0f, 0.0f);
    const ConvexVolume frustum = chain().frustum, directions = chain().directionVolume;
    gTerrain.lowestLod = 1;
    gTerrain.highestLod = 4;
    frame();
    // The level's level-of-detail limits outlast the mirrored terrain.
    EXPECT_EQ(gTerrain.lowestLod, 1);
    EXPECT_EQ(gTerrain.highestLod, 4);
    // The mirrored passes put the camera's volumes back.
    EXPECT_EQ(std::memcmp(&frustum, &chain().frustum, sizeof(frustum)), 0);
    EXPECT_EQ(std::memcmp(&directions, &chain().directionVolume, sizeof(directions)), 0);
    WaterArea* lake = area(L"Lake");
    ASSERT_NE(lake, nullptr);
    ASSERT_TRUE(lake->built);
    ASSERT_NE(lake->reflection.target, nullptr);
    EXPECT_EQ(lake->reflection.inUse, lake->reflection.target);
    // Upside down: the hills hang below the horizon (the middle row), and
    // under them lies the mirrored sky; the ground under the water is cut
    // away, so none shows above the horizon.
    EXPECT_GT(groundPixels(lake->reflection.target, 0.5f, 0.625f), 2000);
    EXPECT_EQ(groundPixels(lake->reflection.target, 0.75f), 0);
    EXPECT_GT(skyPixels(lake->reflection.target, 0.75f), 20000) << "the sky mask under the mirrored hills";
    EXPECT_EQ(groundPixels(lake->reflection.target, 0.0f, 0.5f), 0);
    EXPECT_EQ(groundPixels(gWater.skyMask.skyTarget), 0);

    // Beyond its reflection range the lake shows the sky mask.
    SceneFrames::look(chain(), {-190.0f, 300.0f, -1500.0f}, 0.0f, -10.0f);
    frame();
    EXPECT_EQ(lake->reflection.inUse, gWater.skyMask.skyTarget);
}

// Particles the reflection draws too, counting how often they are moved.
uint32_t particleSteps = 0;
uint32_t countStep(Particle& particle)
{
    ++particleSteps;
    particle.hidden = 0;
    particle.position = {-200.0f, 60.0f, -400.0f};
    return 1;
}

TEST_F(WaterDevice, TheReflectionDrawsParticlesWithoutMovingThem)
{
    SceneFrames::look(chain(), {0.0f, 52.0f, -400.0f}, 90.0f, 0.0f);
    ParticleSystem* system =
        new ParticleSystem(countStep, D3DBLEND_SRCALPHA, chain(), TextureRef(), 10, D3DBLEND_INVSRCALPHA, 0, true,
                           false, false);
    system->stopped = 0;
    particleSteps = 0;
    frame();
    WaterArea* lake = area(L"Lake");
    ASSERT_NE(lake, nullptr);
    ASSERT_EQ(lake->reflection.inUse, lake->reflection.target);
    EXPECT_EQ(particleSteps, 10u);
    delete system;
}

TEST_F(WaterDevice, ThePondKeepsItsWavesThroughAReset)
{
    SceneFrames::look(chain(), {-200.0f, 60.0f, 720.0f}, 0.0f, -25.0f);
    uint32_t before = 0, after = 0;
    frame(&before);
    WaterArea* pond = area(L"Pond");
    ASSERT_NE(pond, nullptr);
    ASSERT_TRUE(pond->physicsBuilt);
    ASSERT_NE(pond->physics.rings[0].vertexBuffer, nullptr);
    gWater.enabled = 0;
    uint32_t without = 0;
    frame(&without);
    gWater.enabled = 1;
    pond->physics.addRipple({-200.0f, 800.0f}, 1.0f);
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    ASSERT_NE(pond->physics.rings[0].vertexBuffer, nullptr);
    ASSERT_NE(pond->physics.rings[1].vertexBuffer, nullptr);
    const Level waves = frame(&after);
    EXPECT_GT(after, without + 2000); // the grids of the near macros
    EXPECT_NEAR(double(after), double(before), double(before - without) * 0.1);
    const POINT p = SceneFrames::pixelOf(chain(), {-200.0f, 36.5f, 800.0f}, waves);
    const Color c = Color::fromArgb(waves.at(p.x, p.y));
    EXPECT_GT(int(c.b), int(c.r));
}

TEST_F(WaterDevice, ThePondShowsAtEveryDistance)
{
    // Near: grids of the near macros; farther: a flat rectangle per macro;
    // beyond the patch range: the far mesh; beyond the wave range: the
    // flat surface.
    struct Case
    {
        float distance;
        uint32_t isFar;
        bool waves;
    };
    const Case cases[] = {{60.0f, 0, true}, {160.0f, 0, true}, {225.0f, 1, true}, {300.0f, 0, false}};
    WaterArea* pond = area(L"Pond");
    ASSERT_NE(pond, nullptr);
    const vec3d centre{-200.0f, 36.5f, 800.0f};
    for (const Case& c : cases) {
        SceneFrames::look(chain(), {-200.0f, 36.5f + c.distance * 0.5f, 800.0f - c.distance}, 0.0f, -26.5f);
        frame();
        const Level water = frame();
        gWater.enabled = 0;
        const Level ground = frame();
        gWater.enabled = 1;
        const POINT p = SceneFrames::pixelOf(chain(), centre, water);
        EXPECT_GT(difference(water.at(p.x, p.y), ground.at(p.x, p.y)), 30) << c.distance;
        const Color colour = Color::fromArgb(water.at(p.x, p.y));
        EXPECT_GT(int(colour.b), int(colour.r)) << c.distance;
        EXPECT_EQ(pond->physicsBuilt != 0, c.waves) << c.distance;
        if (c.waves) {
            EXPECT_EQ(pond->physics.patches.head()->item->isFar, c.isFar) << c.distance;
        }
    }
}

// A live area over a fan of points around (x, z) with the given box width.
WaterArea* fanArea(int points, float x, float z, float width)
{
    WaterArea* a = new WaterArea(&gTerrain);
    *a->outline.at(0) = {x, z};
    for (int i = 0; i < points - 1; ++i) {
        const float angle = 6.2831853f * float(i) / float(points - 1);
        *a->outline.at(i + 1) = {x + 0.5f * width * std::cos(angle), z + 0.5f * width * std::sin(angle)};
        for (int v : {0, i + 1, (i + 1) % (points - 1) + 1})
            *a->triangles.at(a->indexCount++) = uint16_t(v);
    }
    a->outlineCount = points;
    a->level = 47.0f;
    a->box.minimum = {x - 0.5f * width, 40.0f, z - 0.5f * width};
    a->box.maximum = {x + 0.5f * width, 47.0f, z + 0.5f * width};
    a->box.center = {x, 43.5f, z};
    a->reflectionRange = 0.0f;
    a->built = 1;
    return a;
}

TEST_F(WaterDevice, AreasWithoutTrianglesOrTargetDrawNothingOfTheirOwn)
{
    SceneFrames::look(chain(), {0.0f, 52.0f, -400.0f}, 90.0f, -4.0f);
    uint32_t before = 0, after = 0;
    frame(&before);
    // An area whose triangles were dropped, live beside the lake.
    WaterArea* bare = new WaterArea(&gTerrain);
    for (int i = 0; i < 3; ++i)
        *bare->outline.at(i) = {-100.0f + 50.0f * float(i % 2), -400.0f + 50.0f * float(i / 2)};
    bare->outlineCount = 3;
    bare->level = 47.0f;
    bare->box.minimum = {-100.0f, 40.0f, -400.0f};
    bare->box.maximum = {-50.0f, 47.0f, -350.0f};
    bare->box.center = (bare->box.minimum + bare->box.maximum) * 0.5f;
    bare->built = 1;
    bare->reflectionRange = 0.0f;
    gWater.live.append(bare);
    // An area behind the camera is passed over: no reflection, no surface.
    WaterArea* behind = fanArea(8, 300.0f, -400.0f, 20.0f);
    gWater.live.append(behind);
    frame(&after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(bare->surfaceVertices, nullptr);
    EXPECT_EQ(behind->reflection.inUse, nullptr);
    EXPECT_EQ(behind->surfaceVertices, nullptr);
    // Without the sun's target the surfaces draw without it.
    RenderTexture* sun = gWater.skyMask.sunTarget;
    gWater.skyMask.sunTarget = nullptr;
    frame(&after);
    EXPECT_EQ(after, before);
    gWater.skyMask.sunTarget = sun;

    // The sky target could not be made: the lake shows the sky mask.
    WaterArea* lake = area(L"Lake");
    ASSERT_NE(lake, nullptr);
    lake->reflection.target = nullptr;
    frame();
    EXPECT_EQ(lake->reflection.inUse, gWater.skyMask.skyTarget);
}

TEST_F(WaterDevice, LargeOutlinesAndNarrowAreas)
{
    // 5000 points and 14997 indices are more than a shared pool holds.
    SceneFrames::look(chain(), {-190.0f, 140.0f, -700.0f}, 0.0f, -25.0f);
    uint32_t before = 0, after = 0;
    frame(&before);
    WaterArea* large = fanArea(5000, -190.0f, -410.0f, 100.0f);
    gWater.live.append(large);
    frame(&after);
    ASSERT_NE(large->surfaceVertices, nullptr);
    EXPECT_GE(large->surfaceVertices->pool->reserved, 5000u);
    EXPECT_GE(large->surfaceIndices->pool->reserved, 14997u);
    EXPECT_EQ(after, before + 4999);

    // Under 2 units there is no texel for the alpha texture.
    WaterArea* narrow = fanArea(8, -190.0f, -410.0f, 1.5f);
    narrow->buildAlphaTexture();
    EXPECT_FALSE(narrow->alphaTexture.isBound());
    WaterArea* small = fanArea(8, -190.0f, -410.0f, 6.0f);
    small->buildAlphaTexture();
    ASSERT_TRUE(small->alphaTexture.isBound());
    D3DSURFACE_DESC desc{};
    small->alphaTexture.texture()->texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 3u);
    EXPECT_EQ(desc.Height, 3u);
    delete narrow;
    delete small;
}


// Elements of a pool list's ranges in use, and its pool count.
std::pair<uint32_t, int32_t> poolUse(BufferPool::List& list)
{
    uint32_t used = 0;
    for (auto* node = list.pools.head(); node; node = node->next)
        for (const BufferRange* range = node->item->firstRange; range; range = range->next)
            used += range->used ? range->count : 0;
    return {used, list.pools.count()};
}

TEST_F(WaterDevice, SurfacesGiveTheirRangesBackToTheSharedPools)
{
    const auto vertices = poolUse(gWater.surfacePools), indices = poolUse(gWater.indexPools);
    WaterArea* area = fanArea(40, -190.0f, -410.0f, 30.0f);
    ASSERT_TRUE(area->buildSurface());
    EXPECT_EQ(poolUse(gWater.surfacePools).first, vertices.first + 40);
    EXPECT_EQ(poolUse(gWater.indexPools).first, indices.first + 39 * 3);
    // Built again and again, the area holds one range of each and the pools
    // do not grow.
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(area->buildSurface());
    EXPECT_EQ(poolUse(gWater.surfacePools).first, vertices.first + 40);
    EXPECT_EQ(poolUse(gWater.indexPools).first, indices.first + 39 * 3);
    area->freeSurface();
    EXPECT_EQ(area->surfaceVertices, nullptr);
    EXPECT_EQ(area->surfaceIndices, nullptr);
    EXPECT_EQ(poolUse(gWater.surfacePools), vertices);
    EXPECT_EQ(poolUse(gWater.indexPools).first, indices.first);
    // Deleting a built area gives its ranges back too.
    ASSERT_TRUE(area->buildSurface());
    delete area;
    EXPECT_EQ(poolUse(gWater.surfacePools).first, vertices.first);
    EXPECT_EQ(poolUse(gWater.indexPools).first, indices.first);
}


TEST_F(WaterDevice, TheReflectionClipsToTheOutlinesHullAtTheLevel)
{
    // Every point of a round outline is a corner of its hull, the first too;
    // a point inside the outline is none.
    WaterArea* area = new WaterArea(&gTerrain);
    constexpr int points = 9;
    for (int i = 0; i < points - 1; ++i) {
        const float angle = 6.2831853f * float(i) / float(points - 1);
        *area->outline.at(i) = {-190.0f + 40.0f * std::cos(angle), -410.0f + 40.0f * std::sin(angle)};
    }
    *area->outline.at(points - 1) = {-190.0f, -410.0f};
    area->outlineCount = points;
    area->level = 47.0f;
    area->reflection.createTarget(gWater.skyMask);
    const polygon3d& clip = area->reflection.clipPolygon;
    ASSERT_EQ(clip.count, points - 1);
    for (int i = 0; i < points - 1; ++i) {
        const vec2d& p = *area->outline.at(i);
        bool found = false;
        for (int k = 0; k < clip.count; ++k) {
            const vec3d& q = clip.pointData()[k];
            found = found || (std::fabs(q.x - p.x) < 1e-3f && q.y == 47.0f && std::fabs(q.z - p.y) < 1e-3f);
        }
        EXPECT_TRUE(found) << i;
    }
    delete area;
}


TEST_F(WaterDevice, ThePondsWavesRunWhereItsGroundLiesUnderTheWater)
{
    // A cell is wet when the ground a macro size further along z (where the
    // level's areas take their ground from) lies under the water.
    WaterArea* pond = area(L"Pond");
    ASSERT_NE(pond, nullptr);
    WaterPhysics& physics = pond->physics;
    ASSERT_TRUE(physics.build());
    WaterPhysics::Patch& patch = *physics.patches.head()->item;
    if (patch.macroCount == 0)
        physics.buildMacros(patch);
    int wet = 0, agree = 0, cells = 0;
    for (int32_t i = 0; i < patch.macroCount; ++i) {
        const WaterPhysics::Macro& macro = *patch.macros.at(i);
        if (!(macro.box.maximum.x > macro.box.minimum.x))
            continue;
        for (int32_t ix = macro.ix0; ix < macro.ix0 + physics.n; ++ix)
            for (int32_t iz = macro.iz0; iz < macro.iz0 + physics.n; ++iz) {
                const float x = physics.world.m[12] + physics.world.m[0] * float(ix - 1);
                const float z = physics.world.m[14] - physics.world.m[10] * float(iz);
                const bool under = gTerrain.getHeight(x, z + pond->macroSize, 3) < pond->level;
                const bool simulated = physics.cell(ix, iz).stamp != 0;
                wet += simulated ? 1 : 0;
                agree += simulated == under ? 1 : 0;
                ++cells;
            }
    }
    ASSERT_GT(cells, 1000);
    EXPECT_GT(wet, cells / 4);
    EXPECT_EQ(agree, cells);
}

// Each near macro's grid of waves is drawn over the macro's own stretch of
// x, not a cell beside it. The ring's buffer is swapped for one the test can
// read back.
TEST_F(WaterDevice, TheWavesOfANearMacroAreDrawnOverItsOwnStretch)
{
    WaterPhysics* pond = pondWithWaves();
    ASSERT_NE(pond, nullptr);
    WaterPhysics& physics = *pond;
    WaterPhysics::Ring& ring = physics.rings[0];
    ASSERT_NE(ring.vertexBuffer, nullptr);
    IDirect3DVertexBuffer9* readable = nullptr;
    ASSERT_EQ(gDevice->CreateVertexBuffer(WaterPhysics::Ring::ringVertices * sizeof(WaterPhysics::Vertex),
                                          D3DUSAGE_DYNAMIC, WaterPhysics::vertexFormat, D3DPOOL_SYSTEMMEM, &readable,
                                          nullptr),
              D3D_OK);
    IDirect3DVertexBuffer9* own = ring.vertexBuffer;
    const uint32_t ownStart = ring.start;
    ring.vertexBuffer = readable;
    ring.start = 0;
    chain().beginFrame();
    gDevice->BeginScene();
    physics.render();
    gDevice->EndScene();
    chain().present();
    ring.vertexBuffer = own;
    ring.start = ownStart;

    const int32_t n = physics.n, perMacro = n * n;
    const int32_t drawn = std::min(physics.drawCount, int32_t(WaterPhysics::Ring::batchVertices) / perMacro);
    ASSERT_GE(drawn, 2);
    void* bits = nullptr;
    ASSERT_EQ(readable->Lock(0, 0, &bits, D3DLOCK_READONLY), D3D_OK);
    const auto* vertices = static_cast<const WaterPhysics::Vertex*>(bits);
    const float cell = physics.world.m[0];
    for (int32_t k = 0; k < drawn; ++k) {
        const WaterPhysics::Macro& macro = **physics.drawList.at(k);
        float low = FLT_MAX, high = -FLT_MAX;
        for (int32_t i = 0; i < perMacro; ++i) {
            const float x = physics.world.m[12] + cell * vertices[k * perMacro + i].position.x;
            low = std::min(low, x);
            high = std::max(high, x);
        }
        EXPECT_NEAR(low, macro.box.minimum.x, 0.25f * cell) << k;
        EXPECT_NEAR(high, macro.box.maximum.x, 0.25f * cell) << k;
    }
    readable->Unlock();
    readable->Release();
}

// The near grids' indices, as the device holds them: every cell of every
// macro copy in the batch is two triangles over that cell's own four
// corners, each corner used and none of the next cell's or macro's.
TEST_F(WaterDevice, EachCellOfTheNearGridsIsTwoTrianglesOverItsOwnCorners)
{
    WaterPhysics* pond = pondWithWaves();
    ASSERT_NE(pond, nullptr);
    WaterPhysics& physics = *pond;
    IDirect3DIndexBuffer9* buffer = physics.rings[0].indexBuffer;
    ASSERT_NE(buffer, nullptr);
    const int32_t n = physics.n, perMacro = n * n;
    const int32_t copies = (int32_t(WaterPhysics::Ring::batchVertices) + perMacro - 1) / perMacro;
    const int32_t perCopy = 6 * (n - 1) * (n - 1);
    D3DINDEXBUFFER_DESC description{};
    ASSERT_EQ(buffer->GetDesc(&description), D3D_OK);
    ASSERT_EQ(description.Size, UINT(2 * perCopy * copies));
    void* bits = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &bits, D3DLOCK_READONLY), D3D_OK);
    const auto* indices = static_cast<const uint16_t*>(bits);
    int wrong = 0;
    for (int32_t k = 0; k < copies; ++k)
        for (int32_t r = 0; r + 1 < n; ++r)
            for (int32_t c = 0; c + 1 < n; ++c) {
                const int32_t base = k * perMacro + n * r + c;
                const int32_t corners[4] = {base, base + 1, base + n, base + n + 1};
                const uint16_t* cell = indices + k * perCopy + 6 * ((n - 1) * r + c);
                bool used[4] = {};
                bool sound = true;
                for (int t = 0; t < 2; ++t) {
                    const uint16_t* triangle = cell + 3 * t;
                    sound = sound && triangle[0] != triangle[1] && triangle[1] != triangle[2] &&
                            triangle[0] != triangle[2];
                    for (int v = 0; v < 3; ++v) {
                        const int32_t* at = std::find(corners, corners + 4, int32_t(triangle[v]));
                        sound = sound && at != corners + 4;
                        if (at != corners + 4)
                            used[at - corners] = true;
                    }
                }
                sound = sound && used[0] && used[1] && used[2] && used[3];
                wrong += sound ? 0 : 1;
            }
    buffer->Unlock();
    EXPECT_EQ(wrong, 0);
}

// The far mesh's ranges need not be the first of their pools: with the
// first elements of both pools taken, the far pond is still written where
// it is drawn from, and shows.
TEST_F(WaterDevice, TheFarPondIsWrittenWhereItsRangesLie)
{
    BufferRange* indicesFirst = BufferPool::allocRange(gWater.indexPools, 30);
    BufferRange* verticesFirst = BufferPool::allocRange(gWater.wavePools, 20);
    ASSERT_NE(indicesFirst, nullptr);
    ASSERT_NE(verticesFirst, nullptr);
    WaterArea* pond = area(L"Pond");
    ASSERT_NE(pond, nullptr);
    const vec3d centre{-200.0f, 36.5f, 800.0f};
    SceneFrames::look(chain(), {-200.0f, 36.5f + 112.5f, 800.0f - 225.0f}, 0.0f, -26.5f);
    frame();
    const Level water = frame();
    gWater.enabled = 0;
    const Level ground = frame();
    gWater.enabled = 1;
    WaterPhysics& physics = pond->physics;
    ASSERT_TRUE(pond->physicsBuilt);
    ASSERT_EQ(physics.patches.head()->item->isFar, 1u);
    ASSERT_NE(physics.farIndices, nullptr);
    ASSERT_NE(physics.farVertices, nullptr);
    EXPECT_EQ(physics.farIndices->pool, indicesFirst->pool);
    EXPECT_GE(physics.farIndices->start, 30u);
    EXPECT_GE(physics.farVertices->start, 20u);
    void* bits = nullptr;
    ASSERT_EQ(physics.farIndices->pool->indexBuffer->Lock(physics.farIndices->start * 2, 12, &bits, D3DLOCK_READONLY),
              D3D_OK);
    const uint16_t expected[6] = {0, 1, 2, 2, 1, 3};
    EXPECT_EQ(std::memcmp(bits, expected, sizeof(expected)), 0);
    physics.farIndices->pool->indexBuffer->Unlock();
    const POINT p = SceneFrames::pixelOf(chain(), centre, water);
    EXPECT_GT(difference(water.at(p.x, p.y), ground.at(p.x, p.y)), 30);
    freeWaterRange(indicesFirst);
    freeWaterRange(verticesFirst);
}

TEST_F(WaterDevice, TheWaterPassLeavesTheTextureStagesAsItFoundThem)
{
    // Over the lake (flat surface, reflection) and at the pond (waves).
    for (const vec3d& at : {vec3d{0.0f, 60.0f, -400.0f}, vec3d{-200.0f, 60.0f, 720.0f}}) {
        SceneFrames::look(chain(), at, at.x < 0.0f ? 0.0f : 90.0f, -20.0f);
        frame();
        chain().beginFrame();
        for (DWORD s = 1; s < 4; ++s) {
            gDevice->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, s);
            gDevice->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_DISABLE);
        }
        gDevice->BeginScene();
        gWater.render(chain());
        gDevice->EndScene();
        for (DWORD s = 1; s < 4; ++s) {
            DWORD index = 0, op = 0;
            gDevice->GetTextureStageState(s, D3DTSS_TEXCOORDINDEX, &index);
            gDevice->GetTextureStageState(s, D3DTSS_COLOROP, &op);
            EXPECT_EQ(index, s) << s;
            EXPECT_EQ(op, DWORD(D3DTOP_DISABLE)) << s;
        }
        chain().present();
    }
}


TEST_F(WaterDevice, TheLoadsWarmUpWakesTheAreasAroundTheCamera)
{
    // No frame has run since the load: its warm-up scanned every area.
    int live = 0;
    for (Water::AreaList* list : {&gWater.live, &gWater.dormant})
        for (auto* node = list->head(); node; node = node->next) {
            const bool inRange = node->item->cameraDistanceSq() < WaterArea::rangeLimit(chain().range);
            EXPECT_EQ(list == &gWater.live, inRange) << std::string(node->item->name.text(), node->item->name.text() + node->item->name.length());
            live += list == &gWater.live ? 1 : 0;
        }
    EXPECT_GT(live, 0);
}

}
