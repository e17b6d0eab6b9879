// Render textures on a real device: drawn into as targets, read back, and
// rebuilt by a device reset that keeps managed textures.
#include "TestDevice.h"

#include "Render/RenderTexture.h"

#include "Core/Color.h"

using namespace TestDevice;

namespace {

constexpr uint32_t clearColour = 0xFF204080;
constexpr uint32_t quadColour = 0xFFFF0000;

class RenderTextures : public DeviceSuite
{
protected:
    // Sets the entry as target, clears it and draws a quad of quadColour
    // over [0, 48) x [0, 24).
    static void drawInto(RenderTexture& entry)
    {
        const TextureRef colour = makeTexture(2, 2, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return quadColour; });
        chain().pushRenderTarget(entry.renderSurface, entry.depthSurface);
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | (entry.depthSurface ? D3DCLEAR_ZBUFFER : 0), clearColour, 1.0f,
                       0);
        gDevice->BeginScene();
        gDevice->SetTexture(0, colour.texture()->texture);
        drawScreenRect(48, 24, -1, -1, 0.0f);
        gDevice->SetTexture(0, nullptr);
        gDevice->EndScene();
        chain().popRenderTarget();
    }

    // Reads the entry back through the game's capture into a managed texture.
    static void expectDrawn(RenderTexture& entry)
    {
        TextureRef copy;
        ASSERT_TRUE(Texture::create(copy, String(L"copy"), 64, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
        RenderTexture::captureBackBuffer(entry, copy);
        const Level level = readLevel(copy);
        ASSERT_EQ(level.width, 64u);
        const auto drawn = [](uint32_t x, uint32_t y) { return x < 48 && y < 24 ? quadColour : clearColour; };
        EXPECT_EQ(wrongTexels(level, drawn, 0xFFFFFF), 0);
    }
};

TEST_F(RenderTextures, DrawnTargetsReadBackIntoTextures)
{
    RenderTexture::List list;
    RenderTexture* entry = RenderTexture::acquire(list, 64, 32, true, true, -1, D3DFMT_A8R8G8B8);
    ASSERT_NE(entry, nullptr);
    drawInto(*entry);
    expectDrawn(*entry);

    // Into another format the pixels are converted.
    TextureRef narrow = makeTexture(64, 32, D3DFMT_R5G6B5, [](uint32_t, uint32_t) { return 0u; });
    RenderTexture::copyToTexture(*entry, narrow);
    const Level n = readLevel(narrow);
    EXPECT_EQ(n.at(20, 10), 0xF800u);
    EXPECT_EQ(n.at(50, 26), fromColor<ColorR5G6B5>(Color::fromArgb(clearColour)).value);
    // An entry without a lockable copy makes one for each capture and lets it go.
    RenderTexture* plain = RenderTexture::acquire(list, 64, 32, false, false, -1, D3DFMT_A8R8G8B8);
    ASSERT_NE(plain, nullptr);
    drawInto(*plain);
    for (int capture = 0; capture < 2; ++capture) {
        expectDrawn(*plain);
        EXPECT_FALSE(plain->lockTexture.isBound()) << capture;
    }
    list.clearWith([](RenderTexture* e) { RenderTexture::destroy(e); });
}

// A target the device cannot make is no entry, and the list stays as it was.
TEST_F(RenderTextures, TargetsThatCannotBeMadeAreNotListed)
{
    const int32_t before = RenderTexture::shared.count();
    struct Case
    {
        const char* name;
        int32_t width;
        uint32_t format;
    };
    for (const Case& c : {Case{"one texel wide", 1, D3DFMT_A8R8G8B8}, Case{"no format", 64, D3DFMT_UNKNOWN}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RenderTexture::acquire(RenderTexture::shared, c.width, 64, false, true, -1, c.format), nullptr);
        EXPECT_EQ(RenderTexture::shared.count(), before);
    }
}

TEST_F(RenderTextures, ResetKeepsManagedTexturesAndRebuildsTargets)
{
    TextureRef managed = makeTexture(16, 16, D3DFMT_A8R8G8B8, pattern());
    RenderTexture* entry = RenderTexture::acquire(RenderTexture::shared, 64, 32, true, false, 36, D3DFMT_A8R8G8B8);
    ASSERT_NE(entry, nullptr);
    TextureRef user = entry->renderTexture; // another owner's reference to the target

    D3D::Device::reset(gDirectGraphics.record, nullptr);
    EXPECT_EQ(gDirectGraphics.record.resetting, 0u);

    const Level kept = readLevel(managed);
    ASSERT_EQ(kept.width, 16u);
    EXPECT_EQ(wrongTexels(kept, pattern()), 0);

    // The target was made again; references to the old one became empty.
    EXPECT_FALSE(user.isBound());
    ASSERT_NE(entry->renderSurface, nullptr);
    EXPECT_NE(gDirectGraphics.record.sharedTarget256->renderSurface, nullptr);
    drawInto(*entry);
    expectDrawn(*entry);
    RenderTexture::releaseByKey(RenderTexture::shared, entry);
}

}
