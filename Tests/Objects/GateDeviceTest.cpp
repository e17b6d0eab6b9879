// The sample gate on the real device of the test window: its marker shows
// only while the gate is marked; the frame stands either way. Frames are
// saved where KORVANTA_SCREENSHOTS points.
#include "../Render/TestDevice.h"

#include "ObjectFunctionsWorld.h"

#include "Objects/CollectGate.h"

#include "TextureRecord.h"

#include <d3dx9.h>

#include <cstdlib>
#include <string>

using namespace TestDevice;
using namespace ObjectFunctionsTests;

namespace {

constexpr uint32_t clearColour = 0xFF102030u;

class GateDevice : public DeviceSuite
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

    static uint32_t at(const Level& pixels, const vec3d& p)
    {
        const vec2d s = screenPoint(chain(), p);
        return pixels.at(uint32_t(s.x), uint32_t(s.y)) & 0xFFFFFF;
    }
};

}

TEST_F(GateDevice, TheMarkerShowsOnlyWhileMarked)
{
    chain().fogEnabled = 0;
    World world({}, &chain());
    DynObject* gate = world.place(L"Gate", {});
    ASSERT_NE(gate, nullptr);
    ASSERT_EQ(gate->hidden, 0u);
    auto* entry = gate->functions->find(0x40);
    ASSERT_NE(entry, nullptr);
    auto* instance = dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(entry->instance);
    ASSERT_NE(instance, nullptr);
    ASSERT_NE(instance->marker, nullptr);

    // The frame's posts stand at x -1.8 and 1.8 from the gate's foot up to
    // y 3.6, its bar across their tops up to 4; the marker fills y 4.5 to
    // 5.5 above it (all lowered by the object's height offset).
    const vec3d foot = gate->world.row(3);
    lookAlongZ(chain(), foot + vec3d{0.0f, 3.5f, -14.0f});
    const vec3d marker = foot + vec3d{0.0f, 5.0f, -0.5f};
    const vec3d frame = foot + vec3d{-1.8f, 2.0f, -0.2f};
    const vec3d bar = foot + vec3d{0.0f, 3.8f, -0.2f};
    const vec3d passage = foot + vec3d{0.0f, 1.5f, -0.2f};
    const uint32_t background = clearColour & 0xFFFFFF;

    const Level unmarked = draw("gate-unmarked");
    EXPECT_EQ(at(unmarked, marker), background) << "a new gate hides its marker";
    EXPECT_NE(at(unmarked, frame), background) << "the frame stands";
    EXPECT_NE(at(unmarked, bar), background) << "the bar spans the posts";
    EXPECT_EQ(at(unmarked, passage), background) << "the frame is open between its posts";

    instance->setMarked(true);
    const Level marked = draw("gate-marked");
    EXPECT_NE(at(marked, marker), background) << "the marked gate shows its marker";
    EXPECT_NE(at(marked, frame), background);

    instance->setMarked(false);
    const Level again = draw("gate-unmarked-again");
    EXPECT_EQ(at(again, marker), background);
}

namespace {

// The device's stand-in texture (what an unbound texture draws) filled with
// one colour on every level; createDefault brings the pattern back.
void fillStandIn(uint32_t colour)
{
    IDirect3DTexture9* texture = Texture::empty.texture;
    ASSERT_NE(texture, nullptr);
    for (uint32_t level = 0; level < texture->GetLevelCount(); ++level) {
        D3DSURFACE_DESC description{};
        D3DLOCKED_RECT locked{};
        ASSERT_TRUE(SUCCEEDED(texture->GetLevelDesc(level, &description)));
        ASSERT_TRUE(SUCCEEDED(texture->LockRect(level, &locked, nullptr, 0)));
        for (uint32_t y = 0; y < description.Height; ++y)
            for (uint32_t x = 0; x < description.Width; ++x)
                static_cast<uint32_t*>(locked.pBits)[y * uint32_t(locked.Pitch) / 4 + x] = colour;
        texture->UnlockRect(level);
    }
}

}

// The gate and each pick-up drawn: none of their pixels comes from the
// stand-in texture, so the view is the same whatever the stand-in holds.
TEST_F(GateDevice, TheGateAndThePickUpsWearTheirOwnTextures)
{
    chain().fogEnabled = 0;
    FrameFactor still(0.0f); // the pick-ups hold their turn
    World world({}, &chain());
    DynObject* gate = world.place(L"Gate", {});
    ASSERT_NE(gate, nullptr);
    dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(gate->functions->find(0x40)->instance)->setMarked(true);
    float x = -4.0f;
    for (const auto& [name, value] : ObjectPackageSamples::pickUpValues()) {
        ASSERT_NE(world.place(name, {x, 0.0f, -5.0f}), nullptr);
        x += 2.0f;
    }
    const vec3d foot = gate->world.row(3);
    lookAlongZ(chain(), foot + vec3d{0.0f, 3.0f, -13.0f});
    const uint32_t background = clearColour & 0xFFFFFF;

    const Level shown = draw("gate-and-pick-ups");
    fillStandIn(0xFF00FF00u);
    const Level green = draw("gate-and-pick-ups-stand-in-green");
    fillStandIn(0xFFFF00FFu);
    const Level magenta = draw("gate-and-pick-ups-stand-in-magenta");
    Texture::createDefault();
    ASSERT_EQ(shown.texels.size(), green.texels.size());
    int drawn = 0, standIn = 0;
    for (size_t i = 0; i < shown.texels.size(); ++i) {
        drawn += (shown.texels[i] & 0xFFFFFF) != background;
        standIn += green.texels[i] != magenta.texels[i];
    }
    EXPECT_GT(drawn, 2000) << "the gate and the pick-ups are in view";
    EXPECT_EQ(standIn, 0) << "pixels of the stand-in texture";
    // Each pick-up is in view.
    x = -4.0f;
    for (int i = 0; i < 5; ++i, x += 2.0f)
        EXPECT_NE(at(shown, foot + vec3d{x, 0.75f, -5.0f}), background) << i;
}

