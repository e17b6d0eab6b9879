// The terrain under projections on a real device: the sun's shadow of a box
// over rolling ground, a spot light over a few patches, and the states both
// leave behind.
#include "../Render/ShadowStandIns.h"
#include "../Render/TestDevice.h"
#include "TerrainTestMaps.h"

#include "Landscape/Scene.h"
#include "Render/DirectGraphics.h"
#include "Render/LightProj.h"
#include "Render/ShadowManager.h"

#include <gtest/gtest.h>

#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

using namespace TerrainTestMaps;
using TestDevice::Level;

constexpr uint16_t meadow = 0x2C64;

// Gentle hills of about 35 world units round a floor 50 units up.
TerrainMapWriter::Map rollingGround()
{
    auto map = heightMap(128, [](int32_t i, int32_t j) {
        return (28.0f + 10.0f * std::sin(float(i) * 0.09f) * std::cos(float(j) * 0.07f)) * 256.0f;
    });
    map.layers.push_back(flatLayer(meadow, 0, 255));
    return map;
}

class TerrainReceiver : public TestDevice::DeviceSuite
{
protected:
    void SetUp() override
    {
        D3D::Device::SwapChain& c = chain();
        c.range = 1800.0f;
        c.fogEnabled = 0;
        c.sun.direction = vec3d{0.35f, 1.0f, 0.25f} / std::sqrt(0.35f * 0.35f + 1.0f + 0.25f * 0.25f);
        const std::vector<uint8_t> bytes = mapBytes(rollingGround());
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ASSERT_TRUE(gTerrain.load(nullptr, settings(), stream));
        ground = gTerrain.getHeight(0.0f, 0.0f, 3);
        c.position = {0.0f, ground + 160.0f, -170.0f};
        c.angles = {0.0f, -45.0f, 0.0f};
        c.setAnglesDeg();
        c.Camera::update();
        gTerrain.startLod(static_cast<const Camera&>(c));
        // A box of 40 x 30 x 40 standing on the ground at the origin.
        box = ShadowStandIns::box({0.0f, ground + 12.0f, 0.0f}, {20.0f, 15.0f, 20.0f});
        boxes.casters = {{box}};
        scene = std::make_unique<Scene>(String(L"Korvanta"), 3500.0f);
        scene->swapChain = &c;
        scene->shadowManager.setQuality(0.0f);
    }

    void TearDown() override
    {
        scene.reset();
        chain().shadowCasters = nullptr;
        gTerrain.clear();
    }

    // One frame of the terrain over a black clear; with shadows the scene's
    // manager places its sectors and renders their maps first.
    Level frame(const char* name, bool shadows, int32_t flag = 1,
                const std::function<void()>& beforeRender = [] {})
    {
        D3D::Device::SwapChain& c = chain();
        c.shadowCasters = shadows ? &boxes : nullptr;
        if (shadows)
            scene->shadowManager.update();
        gTerrain.update(c);
        beforeRender();
        c.beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        gDevice->BeginScene();
        if (shadows)
            scene->shadowManager.renderStaticShadowMaps();
        gTerrain.render(flag);
        gDevice->EndScene();
        Level pixels = TestDevice::readSurface(c.targets[0].surface);
        if (const char* folder = std::getenv("KORVANTA_SCREENSHOTS")) {
            const std::string path = std::string(folder) + "/" + name + ".png";
            D3DXSaveSurfaceToFileA(path.c_str(), D3DXIFF_PNG, c.targets[0].surface, nullptr, nullptr);
        }
        c.present();
        return pixels;
    }

    // The pixel a world point lands on; false off the screen.
    static bool screen(const vec3d& p, const Level& level, uint32_t& x, uint32_t& y)
    {
        const matrix3d& m = chain().viewProjection;
        const auto column = [&](int k) { return p.x * m.at(0, k) + p.y * m.at(1, k) + p.z * m.at(2, k) + m.at(3, k); };
        const float w = column(3);
        if (!(w > 0.0f))
            return false;
        const float sx = (column(0) / w + 1.0f) * 0.5f * float(level.width);
        const float sy = (1.0f - column(1) / w) * 0.5f * float(level.height);
        if (sx < 0.0f || sy < 0.0f || sx >= float(level.width) || sy >= float(level.height))
            return false;
        x = uint32_t(sx);
        y = uint32_t(sy);
        return true;
    }

    // Whether the line through p along the sun meets the box grown by margin
    // (a negative margin shrinks it).
    bool sunLineMeetsBox(const vec3d& p, float margin) const
    {
        const vec3d sun = chain().sun.direction;
        float t0 = -1.0e9f, t1 = 1.0e9f;
        for (int axis = 0; axis < 3; ++axis) {
            const float lo = box.center[axis] - box.halfExtents[axis] - margin;
            const float hi = box.center[axis] + box.halfExtents[axis] + margin;
            if (sun[axis] == 0.0f) {
                if (p[axis] < lo || p[axis] > hi)
                    return false;
                continue;
            }
            float a = (lo - p[axis]) / sun[axis], b = (hi - p[axis]) / sun[axis];
            if (a > b)
                std::swap(a, b);
            t0 = std::max(t0, a);
            t1 = std::min(t1, b);
        }
        return t0 <= t1;
    }

    static int channelError(uint32_t got, uint32_t want)
    {
        int worst = 0;
        for (int shift : {0, 8, 16})
            worst = std::max(worst, std::abs(int((got >> shift) & 255) - int((want >> shift) & 255)));
        return worst;
    }

    // Each channel of c blended under alpha a (of 255) towards colour.
    static uint32_t blend(uint32_t c, uint32_t colour, uint32_t a)
    {
        uint32_t out = 0;
        for (int shift : {0, 8, 16})
            out |= (((colour >> shift) & 255) * a + ((c >> shift) & 255) * (255 - a)) / 255 << shift;
        return out;
    }

    Level referenceQuad()
    {
        static const TextureRef plain = TestDevice::makeTexture(4, 4, D3DFMT_A8R8G8B8, TestDevice::pattern());
        return TestDevice::referenceScene(chain(), plain);
    }

    float ground = 0.0f;
    OrientedBox box;
    ShadowStandIns::Boxes boxes;
    std::unique_ptr<Scene> scene;
};

TEST_F(TerrainReceiver, TheBoxDarkensTheGroundInItsShadowByTheSectorsStrength)
{
    const Level quad = referenceQuad();
    const Level plain = frame("terrain-unshadowed", false);
    const Level shadowed = frame("terrain-shadowed", true);
    // The scene's manager found the terrain's heights and placed its sectors
    // over it; the one over the box reaches the patches under it.
    ShadowManager& manager = scene->shadowManager;
    const ShadowManager::ShadowSector* over = nullptr;
    for (int32_t i = 0; i < manager.sectorCount; ++i)
        if (const ShadowManager::ShadowSector* s = *manager.sectors.at(i);
            s && !s->disabled && s->volume.classifyPoint(box.center) == ConvexVolume::inside)
            over = s;
    ASSERT_NE(over, nullptr);
    EXPECT_EQ(over->opacity, 165);
    EXPECT_GT(gTerrain.projections.count(), 0);

    int inside = 0, insideWrong = 0, outside = 0, outsideWrong = 0;
    for (float x = -80.0f; x <= 80.0f; x += 1.5f)
        for (float z = -80.0f; z <= 80.0f; z += 1.5f) {
            const vec3d p{x, gTerrain.getHeight(x, z, 3), z};
            uint32_t sx, sy;
            if (!screen(p, shadowed, sx, sy))
                continue;
            const uint32_t want = plain.at(sx, sy), got = shadowed.at(sx, sy);
            if (sunLineMeetsBox(p, -3.0f)) {
                ++inside;
                insideWrong += channelError(got, blend(want, 0, over->opacity)) > 3;
            } else if (!sunLineMeetsBox(p, 4.0f)) {
                ++outside;
                outsideWrong += (got & 0xFFFFFF) != (want & 0xFFFFFF);
            }
        }
    EXPECT_GT(inside, 200);
    EXPECT_GT(outside, 2000);
    EXPECT_EQ(insideWrong, 0);
    EXPECT_EQ(outsideWrong, 0);

    // Shadows off: the terrain draws as before, and so does a quad with the
    // device's own states; nothing of the passes stayed behind.
    scene->shadowManager.setEnabled(0);
    const Level after = frame("terrain-shadows-off", true);
    EXPECT_EQ(TestDevice::wrongTexels(after, [&](uint32_t x, uint32_t y) { return plain.at(x, y); }, 0xFFFFFF), 0);
    EXPECT_EQ(TestDevice::wrongTexels(referenceQuad(), [&](uint32_t x, uint32_t y) { return quad.at(x, y); }), 0);
}

TEST_F(TerrainReceiver, ALightShinesOnlyOnThePatchesItReaches)
{
    const Level quad = referenceQuad();
    const Level plain = frame("terrain-unlit", false);
    // A spot light 120 units over the ground looking straight down, its
    // texture white at half opacity.
    LightProj light(0.0f);
    light.texture = TestDevice::makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0x80FFFFFFu; });
    light.coneAngle = 50.0f;
    light.range = 200.0f;
    const vec3d rows[4] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {40.0f, ground + 120.0f, 60.0f}};
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 3; ++k)
            light.transform.at(r, k) = rows[r][k];
    light.update();
    ASSERT_EQ(light.disabled, 0u);
    light.receivers.append(&gTerrain);
    gTerrain.addTexProj(&light);

    struct Case
    {
        const char* name;
        int32_t flag;     // the terrain's pass: 0 draws no projection
        uint32_t disabled; // switched off after the patches took it
        bool lit;
    };
    for (const Case& k : {Case{"terrain-light", 1, 0, true}, Case{"terrain-light-effect-pass", 0, 0, false},
                          Case{"terrain-light-disabled", 1, 1, false}}) {
        SCOPED_TRACE(k.name);
        light.disabled = 0;
        const Level lit = frame(k.name, false, k.flag, [&] { light.disabled = k.disabled; });
        int reached = 0, missed = 0, wrong = 0;
        for (const Terrain::Patch& patch : gTerrain.patches) {
            if (!patch.detail)
                continue;
            // Points well inside the patch (96 world units across).
            for (float dx : {-30.0f, 0.0f, 30.0f})
                for (float dz : {-30.0f, 0.0f, 30.0f}) {
                    const float x = patch.centre.x + dx, z = patch.centre.z + dz;
                    uint32_t sx, sy;
                    if (!screen({x, gTerrain.getHeight(x, z, 3), z}, lit, sx, sy))
                        continue;
                    const bool reaches = patch.detail->projectionCount > 0;
                    (reaches ? reached : missed) += 1;
                    const uint32_t want = k.lit && reaches ? blend(plain.at(sx, sy), 0xFFFFFF, 0x80)
                                                           : plain.at(sx, sy);
                    wrong += channelError(lit.at(sx, sy), want) > (k.lit && reaches ? 3 : 0);
                }
        }
        EXPECT_GT(reached, 4);
        EXPECT_GT(missed, 40);
        EXPECT_EQ(wrong, 0);
    }
    light.disabled = 0;
    EXPECT_EQ(TestDevice::wrongTexels(referenceQuad(), [&](uint32_t x, uint32_t y) { return quad.at(x, y); }), 0);
}

}
