// The sample gate's flares on the real device of the test window: marked,
// the gate's flares light the pixels at their places; with a hill of the
// ground between the camera and the gate they fade out. Frames are saved
// where KORVANTA_SCREENSHOTS points.
#include "../Render/TestDevice.h"

#include "ObjectFunctionsWorld.h"

#include "Objects/CollectGate.h"
#include "Objects/LensFlare.h"

#include "ObjectPackageSamples.h"

#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

using namespace TestDevice;
using namespace ObjectFunctionsTests;
using LensFlare = ObjPkgManager::Functions::LensFlare;

namespace {

constexpr uint32_t clearColour = 0xFF102030u;

// The frame counter at 0 while this lives: every frame tests occlusion.
struct EveryFrameTested
{
    EveryFrameTested() : previous(gFrameCounter.load()) { gFrameCounter.store(0); }
    ~EveryFrameTested() { gFrameCounter.store(previous); }
    uint32_t previous;
};

class LensFlareDevice : public DeviceSuite
{
protected:
    Level draw(const char* name)
    {
        chain().update();
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        c.render(false);
        Level pixels = readSurface(c.targets[0].surface);
        if (const char* folder = std::getenv("KORVANTA_SCREENSHOTS"))
            D3DXSaveSurfaceToFileA((std::string(folder) + "/" + name + ".png").c_str(), D3DXIFF_PNG,
                                   c.targets[0].surface, nullptr, nullptr);
        c.present();
        return pixels;
    }

    // The summed red, green and blue of the 7 x 7 pixels around p.
    static int brightness(const Level& pixels, const vec3d& p)
    {
        const vec2d s = screenPoint(chain(), p);
        int sum = 0;
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx) {
                const int x = int(s.x) + dx, y = int(s.y) + dy;
                if (x < 0 || y < 0 || x >= int(pixels.width) || y >= int(pixels.height))
                    continue;
                const uint32_t c = pixels.at(uint32_t(x), uint32_t(y));
                sum += int(c >> 16 & 0xFF) + int(c >> 8 & 0xFF) + int(c & 0xFF);
            }
        return sum;
    }

    static ObjPkgManager::Functions::Gate::Instance* gateOf(DynObject* gate)
    {
        auto* entry = gate ? gate->functions->find(0x40) : nullptr;
        return entry ? dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(entry->instance) : nullptr;
    }

    static LensFlare::Instance* flaresOf(DynObject* gate)
    {
        auto* entry = gate ? gate->functions->find(LensFlare::flag) : nullptr;
        return entry ? dynamic_cast<LensFlare::Instance*>(entry->instance) : nullptr;
    }
};

}

namespace {

// The builder's gate flare high on the left post.
vec3d upperLeftFlare()
{
    vec3d best(0.0f, -1e30f, 0.0f);
    for (const auto& f : ObjectPackageSamples::gateFlares().flares)
        if (f.position[0] < 0.0f && f.position[1] > best.y)
            best = vec3d(f.position[0], f.position[1], f.position[2]);
    return best;
}

}

TEST_F(LensFlareDevice, AMarkedGatesFlaresLightTheirPlaces)
{
    chain().fogEnabled = 0;
    FrameFactor factor(1.0f);
    EveryFrameTested tested;
    World world({}, &chain());
    DynObject* gate = world.place(L"Gate", {});
    ObjPkgManager::Functions::Gate::Instance* marker = gateOf(gate);
    ASSERT_NE(marker, nullptr);
    const LensFlare* flares = world.package(L"Gate")->functions.lensFlare;
    ASSERT_NE(flares, nullptr);
    EXPECT_TRUE(flares->flareTexture.isBound()) << "the built-in flare image";
    EXPECT_TRUE(flares->glowTexture.isBound()) << "the sun's spot";
    const vec3d foot = gate->world.row(3);
    lookAlongZ(chain(), foot + vec3d{0.0f, 3.5f, -14.0f});
    // The flare high on the frame's left post, in front of it.
    const vec3d flare = foot + upperLeftFlare();

    const int unmarked = brightness(draw("flare-unmarked"), flare);
    marker->setMarked(true);
    draw("flare-first");
    const int marked = brightness(draw("flare-marked"), flare);
    EXPECT_GT(marked, unmarked + 49 * 60) << "the flare lights its place";
    LensFlare::Instance* instance = flaresOf(gate);
    ASSERT_NE(instance, nullptr);
    ASSERT_EQ(instance->builtCount, 4);
    EXPECT_EQ(instance->object(0)->fade, 0.0f) << "seen";

    // The flare sprite's own states: set for its draw, the defaults after.
    LensFlare::Instance::Object& o = *instance->object(0);
    const auto render = [](D3DRENDERSTATETYPE state) {
        DWORD value = 0;
        gDevice->GetRenderState(state, &value);
        return value;
    };
    const auto stage = [](DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
        DWORD value = 0;
        gDevice->GetTextureStageState(stage, type, &value);
        return value;
    };
    for (uint32_t fog : {0u, 1u}) {
        chain().fogEnabled = fog;
        gCamera = &chain();
        o.apply();
        EXPECT_EQ(render(D3DRS_TEXTUREFACTOR), o.colour.argb());
        EXPECT_EQ(render(D3DRS_ALPHABLENDENABLE), DWORD(TRUE));
        EXPECT_EQ(render(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCCOLOR));
        EXPECT_EQ(render(D3DRS_DESTBLEND), DWORD(D3DBLEND_ONE));
        EXPECT_EQ(render(D3DRS_ZENABLE), DWORD(FALSE));
        EXPECT_EQ(render(D3DRS_ZWRITEENABLE), DWORD(FALSE));
        EXPECT_EQ(stage(0, D3DTSS_COLOROP), DWORD(D3DTOP_SELECTARG1));
        EXPECT_EQ(stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_ADD));
        EXPECT_EQ(stage(2, D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE2X));
        EXPECT_EQ(stage(2, D3DTSS_COLORARG1), DWORD(D3DTA_TFACTOR));
        if (fog)
            EXPECT_EQ(render(D3DRS_FOGENABLE), DWORD(FALSE));
        o.restore();
        EXPECT_EQ(render(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
        EXPECT_EQ(render(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
        EXPECT_EQ(render(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
        EXPECT_EQ(render(D3DRS_ZENABLE), DWORD(TRUE));
        EXPECT_EQ(render(D3DRS_ZWRITEENABLE), DWORD(TRUE));
        EXPECT_EQ(stage(0, D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));
        EXPECT_EQ(stage(0, D3DTSS_COLORARG2), DWORD(D3DTA_DIFFUSE));
        EXPECT_EQ(stage(1, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
        EXPECT_EQ(stage(2, D3DTSS_COLOROP), DWORD(D3DTOP_DISABLE));
        EXPECT_EQ(stage(2, D3DTSS_COLORARG1), DWORD(D3DTA_TEXTURE));
        if (fog)
            EXPECT_EQ(render(D3DRS_FOGENABLE), DWORD(TRUE));
    }
    chain().fogEnabled = 0;
    gDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    marker->setMarked(false);
    EXPECT_EQ(brightness(draw("flare-unmarked-again"), flare), unmarked);
}

TEST_F(LensFlareDevice, AHillBetweenCameraAndGateFadesTheFlares)
{
    chain().fogEnabled = 0;
    FrameFactor factor(1.0f);
    EveryFrameTested tested;
    // A round hill in the middle of flat ground.
    Ground ground(TerrainTestMaps::heightMap(128, [](int32_t i, int32_t j) {
        const float r = std::sqrt(float((i - 64) * (i - 64) + (j - 64) * (j - 64)));
        return 20000.0f + 30000.0f * std::max(0.0f, 1.0f - r / 8.0f);
    }));
    ASSERT_TRUE(ground.loaded);
    // The hill's top, found on the ground itself.
    const vec3d c = gTerrain.box.center;
    vec3d top(c.x, -1.0e9f, c.z);
    for (float x = c.x - 60.0f; x <= c.x + 60.0f; x += 1.0f)
        for (float z = c.z - 60.0f; z <= c.z + 60.0f; z += 1.0f)
            if (const float h = gTerrain.getHeight(x, z, 3); h > top.y)
                top = {x, h, z};
    const float base = gTerrain.getHeight(top.x, top.z + 60.0f, 3);
    ASSERT_NEAR(gTerrain.getHeight(top.x, top.z - 60.0f, 3), base, 1.0f) << "the hill is round";
    ASSERT_GT(top.y, base + 20.0f) << "a hill";

    World world({}, &chain());
    DynObject* gate = world.place(L"Gate", {top.x, base, top.z + 60.0f});
    ObjPkgManager::Functions::Gate::Instance* marker = gateOf(gate);
    ASSERT_NE(marker, nullptr);
    const vec3d foot = gate->world.row(3);
    const vec3d flare = foot + upperLeftFlare();

    // On the gate's side of the hill: seen.
    lookAlongZ(chain(), foot + vec3d{0.0f, 3.5f, -14.0f});
    marker->setMarked(true);
    // The first frame places the sprites, the second tests them there.
    draw("hill-near-first");
    draw("hill-near");
    LensFlare::Instance* instance = flaresOf(gate);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->object(0)->fade, 0.0f);

    // Behind the hill: faded over about ten frames.
    lookAlongZ(chain(), foot + vec3d{0.0f, 3.5f, -120.0f});
    const int first = brightness(draw("hill-first"), flare);
    EXPECT_GT(instance->object(0)->fade, 0.0f);
    for (int frame = 0; frame < 12; ++frame)
        draw("hill-fading");
    const int faded = brightness(draw("hill-faded"), flare);
    EXPECT_EQ(instance->object(0)->fade, 1.0f);
    marker->setMarked(false);
    const int away = brightness(draw("hill-unmarked"), flare);
    EXPECT_GT(first, away + 49 * 20) << "still showing in the first frame";
    EXPECT_LE(faded, away + 49) << "faded out";

    // Back in front of the hill: at once.
    marker->setMarked(true);
    lookAlongZ(chain(), foot + vec3d{0.0f, 3.5f, -14.0f});
    draw("hill-again-first");
    draw("hill-again");
    EXPECT_EQ(flaresOf(gate)->object(0)->fade, 0.0f);
}
