// The meadow on a real device under Wine: tufts on level ground near the
// camera and none beyond their range, reeds drawn before the water that
// covers their feet, and both drawing paths with every vertex they promise,
// through a device reset.
#include "LandscapeTestFiles.h"
#include "MeadowFileWriter.h"
#include "MeadowSamples.h"
#include "SceneFrames.h"
#include "TerrainTestMaps.h"
#include "WaterFileWriter.h"

#include "Landscape/GrasLayer.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Render/TextureProj.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using TestDevice::Level;
using Layer = Meadow::GrasLayer;

constexpr uint16_t darkGreen = 0x2C64;

MeadowFileWriter::Layer plainLayer(const wchar_t* name, uint8_t r, uint8_t g, uint8_t b)
{
    MeadowFileWriter::Layer l;
    l.name = String(name);
    l.texture = ImageFileWriter::png(MeadowSamples::tuft());
    l.minimumHeight = 6.0f;
    l.maximumHeight = 8.0f;
    l.fadeStart = 300.0f;
    l.range = 400.0f;
    l.tilt = 0;
    l.colourVariation = 0;
    l.lighting = 0;
    l.bladesPerPatch = 40;
    l.minimumNormal = 0.9f;
    l.minimumGround = -1.0e4f;
    l.maximumGround = 1.0e4f;
    l.colour[0] = b;
    l.colour[1] = g;
    l.colour[2] = r;
    return l;
}

// Level dark green ground, 3072 units across.
TerrainMapWriter::Map flatMap()
{
    TerrainMapWriter::Map map = TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 8000.0f; });
    map.layers.push_back(TerrainTestMaps::flatLayer(darkGreen, 0, 255));
    return map;
}

bool magenta(uint32_t pixel)
{
    const Color c = Color::fromArgb(pixel);
    return c.r > c.g + 60 && c.b > c.g + 60;
}

int difference(uint32_t a, uint32_t b)
{
    const Color x = Color::fromArgb(a), y = Color::fromArgb(b);
    return std::abs(int(x.r) - int(y.r)) + std::abs(int(x.g) - int(y.g)) + std::abs(int(x.b) - int(y.b));
}

class MeadowDevice : public TestDevice::DeviceSuite
{
protected:
    static void SetUpTestSuite() { openDevice(640, 480); }

    void SetUp() override
    {
        scene.swapChain = &chain();
        gFrameFactor.store(1.0f);
    }
    void TearDown() override { scene.release(); }

    // A level of level ground (with water when given) and the layers.
    void loadLevel(const wchar_t* name, const std::vector<MeadowFileWriter::Layer>& layers,
                   const std::vector<WaterFileWriter::Area>& water = {})
    {
        const std::wstring base = LandscapeTestFiles::freshFolder(name) + L"Level";
        levelBase = base;
        LevelFileWriter::Level level;
        level.camera.fogAmount = 0.0f;
        const TerrainMapWriter::Map map = flatMap();
        ASSERT_TRUE(LevelFileWriter::save(level, String((base + L".tee").c_str())));
        ASSERT_TRUE(TerrainMapWriter::save(map, String((base + L".map").c_str())));
        if (!water.empty()) {
            ASSERT_TRUE(WaterFileWriter::save(water, String((base + L".wtr").c_str())));
        }
        ASSERT_TRUE(MeadowFileWriter::save(layers, String((base + L".mdw").c_str())));
        ASSERT_TRUE(scene.load(String((base + L".tee").c_str())));
        ground = gTerrain.getHeight(0.0f, 0.0f, 2);
        ASSERT_EQ(meadow().layers.count(), int32_t(layers.size()));
    }

    Meadow& meadow() { return *chain().meadow; }
    Layer& layer(int i)
    {
        auto* node = meadow().layers.head();
        while (i-- > 0)
            node = node->next;
        return *node->item;
    }
    // Frames with the camera steady, the last one read back (and, when kept,
    // saved where KORVANTA_SCREENSHOTS points).
    Level frames(int count, bool kept = false)
    {
        Level last;
        for (int i = 0; i < count; ++i) {
            SceneFrames::update(scene, chain());
            chain().beginFrame();
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202020, 1.0f, 0);
            chain().render(false);
            if (i + 1 == count) {
                last = TestDevice::readSurface(chain().targets[0].surface);
                if (kept)
                    SceneFrames::keep(chain().targets[0].surface);
            }
            chain().present();
        }
        return last;
    }
    POINT pixelOf(const vec3d& p, const Level& frame) { return SceneFrames::pixelOf(chain(), p, frame); }

    Scene scene{String(L"Korvanta"), 3500.0f};
    float ground = 0.0f;
    std::wstring levelBase; // the level's path without its extension
};

TEST_F(MeadowDevice, TuftsShowNearTheCameraAndNoneBeyondTheirRange)
{
    loadLevel(L"tufts", {plainLayer(L"Magenta", 255, 0, 255)});
    SceneFrames::look(chain(), {0.0f, ground + 20.0f, 0.0f}, 0.0f, -12.0f);
    const Level frame = frames(3, true);
    ASSERT_FALSE(frame.texels.empty());
    // Rows of the ground from 30 to 200 units ahead, and the rows above the
    // tips of tufts 450 units away (their patches reach 426 at most).
    const int nearTop = pixelOf({0.0f, ground, 200.0f}, frame).y, nearBottom = pixelOf({0.0f, ground, 30.0f}, frame).y;
    const int farRows = pixelOf({0.0f, ground + 8.0f, 450.0f}, frame).y;
    ASSERT_TRUE(farRows > 0 && farRows < nearTop && nearBottom <= int(frame.height));
    int nearTufts = 0, nearPixels = 0, farTufts = 0;
    for (uint32_t y = 0; y < frame.height; ++y)
        for (uint32_t x = 0; x < frame.width; ++x) {
            if (int(y) >= nearTop && int(y) < nearBottom) {
                nearTufts += magenta(frame.at(x, y));
                ++nearPixels;
            } else if (int(y) < farRows) {
                farTufts += magenta(frame.at(x, y));
            }
        }
    EXPECT_GT(nearTufts, nearPixels / 10);
    EXPECT_EQ(farTufts, 0);

    // The scene saves the meadow beside its level as it read it, and a
    // cleared scene empties it.
    const std::wstring copy = LandscapeTestFiles::freshFolder(L"tuftsaved") + L"Copy.tee";
    ASSERT_TRUE(scene.save(String(copy.c_str())));
    EXPECT_EQ(LandscapeTestFiles::read(copy.substr(0, copy.size() - 4) + L".mdw"),
              LandscapeTestFiles::read(levelBase + L".mdw"));
    scene.clear();
    EXPECT_EQ(meadow().layers.count(), 0);
    ASSERT_TRUE(scene.load(String(copy.c_str())));
    EXPECT_EQ(meadow().layers.count(), 1);

    // Without the meadow the same rows hold no magenta at all.
    meadow().clear();
    const Level bare = frames(1);
    int left = 0;
    for (uint32_t v : bare.texels)
        left += magenta(v);
    EXPECT_EQ(left, 0);
}

TEST_F(MeadowDevice, ReedsAreDrawnBeforeTheWaterOverTheirFeet)
{
    // Opaque reeds (a solid texture), yellow, twice as tall as the water is deep.
    ImageFileWriter::Image solid;
    solid.width = solid.height = 8;
    solid.argb.assign(64, 0xFFFFFFFFu);
    MeadowFileWriter::Layer reeds = plainLayer(L"Reeds", 255, 255, 0);
    reeds.texture = ImageFileWriter::png(solid);
    reeds.onWater = 1;
    reeds.minimumHeight = reeds.maximumHeight = 16.0f;
    reeds.width = 3.0f;
    reeds.bladesPerPatch = 12;
    // A blue pool 8 deep over the ground ahead.
    const float level = TerrainTestMaps::load(flatMap())->getHeight(0.0f, 0.0f, 2) + 8.0f;
    WaterFileWriter::Area pool;
    pool.name = String(L"Pool");
    pool.level = level;
    pool.outline = {{-200.0f, 60.0f}, {200.0f, 60.0f}, {200.0f, 300.0f}, {-200.0f, 300.0f}};
    pool.indices = {0, 1, 2, 0, 2, 3};
    const uint8_t blue[4] = {200, 80, 20, 200};
    std::memcpy(pool.colour, blue, 4);
    pool.reflectionRange = 0.0f;
    pool.boxAroundOutline(20.0f);
    loadLevel(L"reeds", {reeds}, {pool});
    ASSERT_EQ(gWater.dormant.count() + gWater.live.count(), 1);

    SceneFrames::look(chain(), {0.0f, ground + 60.0f, 0.0f}, 0.0f, -30.0f);
    const Level both = frames(3, true);
    layer(0).state = Layer::disabled;
    const Level water = frames(1);
    layer(0).state = Layer::ready;
    ASSERT_FALSE(both.texels.empty());

    // Under the surface each reed shows through the water, tinted by it;
    // above the surface it shows as itself. Where the blades fall is random:
    // only reeds that stand above the surface at their full width and whose
    // two points no nearer reed covers count.
    struct Reed
    {
        POINT under, over;
        RECT covers; // where the reed stands on the screen, a little wider
        float distance;
        bool counts;
    };
    std::vector<Reed> reedsInView;
    auto onScreen = [&](POINT p) { return p.x >= 0 && p.y >= 0 && p.x < LONG(both.width) && p.y < LONG(both.height); };
    for (auto* node = layer(0).patches.head(); node; node = node->next)
        for (uint32_t k = 0; k < node->item->bladeCount; ++k) {
            const Layer::Blade& b = node->item->blades[k];
            if (b.hidden || !node->item->active)
                continue;
            const vec3d under = b.position + vec3d{0.0f, (level - b.position.y) * 0.5f, 0.0f};
            const vec3d over = b.position + vec3d{0.0f, level - b.position.y + 4.0f, 0.0f};
            const float tall = b.height * b.opacity;
            const POINT u = pixelOf(under, both), o = pixelOf(over, both);
            // The quads' corners as the meadow builds them.
            const vec3d top = b.position + b.direction * tall, A = b.widthA * b.opacity, B = b.widthB * b.opacity;
            RECT covers{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
            for (const vec3d& end : {b.position, top})
                for (const vec3d& w : {A, -A, B, -B, A + B, -A - B, A - B, B - A}) {
                    const POINT c = pixelOf(end + w, both);
                    covers = {std::min(covers.left, c.x - 2), std::min(covers.top, c.y - 2),
                              std::max(covers.right, c.x + 2), std::max(covers.bottom, c.y + 2)};
                }
            // The under point is seen through the water's surface, not past
            // the pool's near edge.
            const vec3d eye = chain().position;
            const vec3d through = eye + (under - eye) * ((eye.y - level) / (eye.y - under.y));
            const bool belowTheSurface = through.x > -190.0f && through.x < 190.0f && through.z > 70.0f &&
                                         through.z < 290.0f;
            reedsInView.push_back({u, o, covers, (b.position - eye).length(),
                                   onScreen(u) && onScreen(o) && b.opacity > 0.99f && belowTheSurface &&
                                       tall > level - b.position.y + 6.0f});
        }
    int blades = 0, tinted = 0;
    for (const Reed& r : reedsInView) {
        bool covered = false;
        for (const Reed& nearer : reedsInView)
            for (POINT p : {r.under, r.over})
                covered = covered || (nearer.distance < r.distance && p.x >= nearer.covers.left &&
                                      p.x <= nearer.covers.right && p.y >= nearer.covers.top &&
                                      p.y <= nearer.covers.bottom);
        if (!r.counts || covered)
            continue;
        ++blades;
        const Color above = Color::fromArgb(both.at(r.over.x, r.over.y));
        const bool reedAbove = above.r > 120 && above.g > 120 && above.b < 60;
        tinted += reedAbove && difference(both.at(r.under.x, r.under.y), water.at(r.under.x, r.under.y)) > 30 &&
                  difference(both.at(r.under.x, r.under.y), both.at(r.over.x, r.over.y)) > 30;
    }
    ASSERT_GE(blades, 10);
    EXPECT_GE(tinted, blades * 9 / 10) << tinted << " of " << blades;
}

TEST_F(MeadowDevice, BothPathsDrawEveryVertexTheyPromiseThroughAReset)
{
    // Dense crosses of four quads near the camera (a patch's 1024 blades of
    // 16 vertices pass a whole pool), single quads farther on.
    MeadowFileWriter::Layer dense = plainLayer(L"Dense", 255, 0, 255);
    dense.shape = 4;
    dense.bladesPerPatch = 1024;
    dense.range = 260.0f;
    dense.fadeStart = 200.0f;
    MeadowFileWriter::Layer sparse = plainLayer(L"Sparse", 0, 0, 255);
    sparse.shape = 1;
    sparse.range = 700.0f;
    sparse.fadeStart = 500.0f;
    loadLevel(L"paths", {dense, sparse});
    SceneFrames::look(chain(), {0.0f, ground + 25.0f, 0.0f}, 20.0f, -10.0f);

    // The camera crawls forward, so that the far patches stream while the
    // near ones stay cached.
    auto check = [&](const char* when) {
        for (int frame = 0; frame < 5; ++frame) {
            chain().position.z += 2.0f;
            chain().Camera::update();
            frames(1);
        }
        uint32_t promised = 0;
        int cached = 0, streamed = 0, large = 0;
        for (int i = 0; i < 2; ++i) {
            const Layer& l = layer(i);
            for (uint32_t p = 0; p < l.drawCount; ++p) {
                const Layer::Patch& patch = **const_cast<Layer&>(l).drawList.at(int32_t(p));
                promised += patch.visibleCount * l.verticesPerBlade / 2;
                if (patch.state == Layer::cachedPatch && patch.visibleCount > 0) {
                    ++cached;
                    ASSERT_NE(patch.cached, nullptr) << when;
                    EXPECT_EQ(patch.cached->count, patch.visibleCount * l.verticesPerBlade) << when;
                    large += patch.cached->count > Layer::poolVertices;
                } else if (patch.state == Layer::streamingPatch) {
                    ++streamed;
                }
            }
        }
        EXPECT_GT(cached, 0) << when;
        EXPECT_GT(large, 0) << when;
        EXPECT_GT(streamed, 0) << when;
        gDevice->BeginScene();
        const uint32_t before = gDirectGraphics.record.primitiveCount;
        meadow().render(0);
        EXPECT_EQ(gDirectGraphics.record.primitiveCount - before, promised) << when;
        gDevice->EndScene();
    };
    check("before the reset");
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    ASSERT_NE(meadow().ring.vertexBuffer, nullptr);
    check("after the reset");
}

TEST_F(MeadowDevice, ProjectionsDrawTheirPatchesAgainOutsideTheReflection)
{
    loadLevel(L"projected", {plainLayer(L"Magenta", 255, 0, 255)});
    SceneFrames::look(chain(), {0.0f, ground + 20.0f, 0.0f}, 0.0f, -12.0f);
    TextureProj projection(nullptr);
    projection.texture = TestDevice::makeTexture(4, 4, D3DFMT_A8R8G8B8, TestDevice::pattern());
    projection.createStateBlocks();
    ASSERT_NE(projection.applyBlock, nullptr);
    // Its volume: the ground up to 250 ahead.
    const vec3d low{-200.0f, -1000.0f, 0.0f}, high{200.0f, 1000.0f, 250.0f};
    const vec3d axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    projection.volume.count = 6;
    for (int a = 0; a < 3; ++a) {
        projection.volume.planes[2 * a] = {axes[a], low[a], low};
        projection.volume.planes[2 * a + 1] = {-axes[a], -high[a], high};
    }
    meadow().addTexProj(&projection);
    frames(3);
    const Layer& l = layer(0);
    ASSERT_GT(l.projectionCount, 0u);
    uint32_t own = 0, again = 0;
    for (uint32_t i = 0; i < l.drawCount; ++i) {
        const Layer::Patch& patch = **const_cast<Layer&>(l).drawList.at(int32_t(i));
        own += patch.visibleCount * l.verticesPerBlade / 2;
    }
    for (uint32_t i = 0; i < l.projectionCount; ++i) {
        const Layer::Patch& patch = *const_cast<Layer&>(l).patchProjections.at(int32_t(i))->patch;
        EXPECT_LE(patch.centre.z, 250.0f + 128.0f);
        again += patch.visibleCount * l.verticesPerBlade / 2;
    }
    gDevice->BeginScene();
    uint32_t before = gDirectGraphics.record.primitiveCount;
    meadow().render(0);
    EXPECT_EQ(gDirectGraphics.record.primitiveCount - before, own + again);
    // The water's reflection draws the grass without its projections.
    gDirectGraphics.record.reflectionPass = 1;
    before = gDirectGraphics.record.primitiveCount;
    meadow().render(0);
    EXPECT_EQ(gDirectGraphics.record.primitiveCount - before, own);
    meadow().drawInReflections = 0;
    before = gDirectGraphics.record.primitiveCount;
    meadow().render(0);
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, before);
    meadow().drawInReflections = 1;
    gDirectGraphics.record.reflectionPass = 0;
    gDevice->EndScene();
    meadow().removeTexProj(&projection);
}

}
