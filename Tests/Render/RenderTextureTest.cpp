// Render textures on a real device: sharing, drawing into a target and
// reading it back, and a device reset.
#include "TextureTestDevice.h"

#include "Render/RenderTexture.h"

#include "Core/Color.h"

using namespace TextureTest;

namespace {

constexpr uint32_t clearColour = 0xFF204080;
constexpr uint32_t quadColour = 0xFFFF0000;

class RenderTextures : public DeviceSuite
{
protected:
    // Clears the entry's target and draws a quad over [16, 48) x [8, 24).
    static void drawInto(RenderTexture& entry)
    {
        D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
        chain.pushRenderTarget(entry.renderSurface, entry.depthSurface);
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | (entry.depthSurface ? D3DCLEAR_ZBUFFER : 0), clearColour, 1.0f,
                       0);
        struct Vertex
        {
            float x, y, z, rhw;
            D3DCOLOR colour;
        };
        const Vertex quad[4] = {{15.5f, 7.5f, 0.5f, 1.0f, quadColour},
                                {47.5f, 7.5f, 0.5f, 1.0f, quadColour},
                                {15.5f, 23.5f, 0.5f, 1.0f, quadColour},
                                {47.5f, 23.5f, 0.5f, 1.0f, quadColour}};
        gDevice->BeginScene();
        gDevice->SetTexture(0, nullptr);
        gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        gDevice->SetRenderState(D3DRS_ZENABLE, FALSE);
        gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
        gDevice->EndScene();
        chain.popRenderTarget();
        D3D::Device::setInitialStates();
    }

    static void expectDrawn(const Level& level, uint32_t mask = 0x00FFFFFF)
    {
        ASSERT_EQ(level.width, 64u);
        int wrong = 0;
        for (uint32_t y = 0; y < level.height; ++y)
            for (uint32_t x = 0; x < level.width; ++x) {
                const bool inside = x >= 16 && x < 48 && y >= 8 && y < 24;
                if ((level.at(x, y) & mask) != ((inside ? quadColour : clearColour) & mask))
                    ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }
};

TEST_F(RenderTextures, EntriesAreSharedBySizeFormatAndKey)
{
    RenderTexture::List list;
    RenderTexture* a = RenderTexture::acquire(list, 64, 32, false, false, 36, D3DFMT_A8R8G8B8);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(RenderTexture::acquire(list, 64, 32, true, true, 36, D3DFMT_A8R8G8B8), a);
    EXPECT_FALSE(a->lockTexture.isBound());
    EXPECT_EQ(a->depthSurface, nullptr);
    EXPECT_NE(RenderTexture::acquire(list, 64, 32, false, false, 35, D3DFMT_A8R8G8B8), a);
    RenderTexture* p = RenderTexture::acquire(list, 64, 32, false, false, -1, D3DFMT_A8R8G8B8);
    RenderTexture* q = RenderTexture::acquire(list, 64, 32, false, false, -1, D3DFMT_A8R8G8B8);
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p, q);
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(RenderTexture::acquire(list, 1, 32, false, false, 36, D3DFMT_A8R8G8B8), nullptr);
    EXPECT_EQ(list.count(), 4);

    RenderTexture::releaseByKey(list, p);
    RenderTexture::releaseByKey(list, p);
    EXPECT_EQ(list.count(), 3);
    list.clearWith([](RenderTexture* entry) { RenderTexture::destroy(entry); });
}

TEST_F(RenderTextures, DrawnTargetsReadBackIntoTextures)
{
    RenderTexture::List list;
    RenderTexture* entry = RenderTexture::acquire(list, 64, 32, true, true, -1, D3DFMT_A8R8G8B8);
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->depthSurface, nullptr);
    drawInto(*entry);

    TextureRef copy;
    ASSERT_TRUE(Texture::create(copy, String(L"copy"), 64, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    RenderTexture::captureBackBuffer(*entry, copy);
    expectDrawn(readLevel(copy));

    // Into another format the pixels are converted.
    TextureRef narrow;
    ASSERT_TRUE(Texture::create(narrow, String(L"narrow"), 64, 32, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED));
    RenderTexture::copyToTexture(*entry, narrow);
    const Level n = readLevel(narrow);
    EXPECT_EQ(n.at(20, 10), 0xF800u);
    EXPECT_EQ(n.at(2, 2), fromColor<ColorR5G6B5>(Color::fromArgb(clearColour)).value);

    // Another size is left untouched, and so is the default checkerboard.
    TextureRef other;
    ASSERT_TRUE(Texture::create(other, String(L"other"), 32, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    writeLevel(other.texture()->texture, [](uint32_t, uint32_t) { return 0x12345678u; });
    RenderTexture::copyToTexture(*entry, other);
    for (uint32_t v : readLevel(other).texels)
        ASSERT_EQ(v, 0x12345678u);
    TextureRef unbound;
    const Level checker = readLevel(unbound);
    RenderTexture::copyToTexture(*entry, unbound);
    EXPECT_EQ(readLevel(unbound).texels, checker.texels);

    // Without a lockable copy the capture makes one for the call.
    RenderTexture* plain = RenderTexture::acquire(list, 64, 32, false, false, -1, D3DFMT_A8R8G8B8);
    ASSERT_NE(plain, nullptr);
    drawInto(*plain);
    TextureRef second;
    ASSERT_TRUE(Texture::create(second, String(L"second"), 64, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    RenderTexture::captureBackBuffer(*plain, second);
    expectDrawn(readLevel(second));
    EXPECT_FALSE(plain->lockTexture.isBound());

    // The render-target read-back of a texture record.
    TextureRef third;
    ASSERT_TRUE(Texture::create(third, String(L"third"), 64, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    Texture::copyRenderTarget(plain->renderTexture, third);
    expectDrawn(readLevel(third));
    writeLevel(other.texture()->texture, [](uint32_t, uint32_t) { return 0x12345678u; });
    Texture::copyRenderTarget(plain->renderTexture, other);
    EXPECT_EQ(readLevel(other).at(20, 10), 0x12345678u);

    list.clearWith([](RenderTexture* e) { RenderTexture::destroy(e); });
}

TEST_F(RenderTextures, ResetKeepsManagedTexturesAndRebuildsTargets)
{
    D3D::Device& record = gDirectGraphics.record;
    ASSERT_NE(record.sharedTarget256, nullptr);
    EXPECT_EQ(record.sharedTarget256->key, 17);
    EXPECT_NE(record.sharedTarget256->depthSurface, nullptr);
    EXPECT_TRUE(record.sharedTarget256->lockTexture.isBound());

    TextureRef managed;
    ASSERT_TRUE(Texture::create(managed, String(L"managed"), 16, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    writeLevel(managed.texture()->texture, [](uint32_t x, uint32_t y) { return patternTexel(x, y); });
    Texture* managedRecord = managed.texture();
    RenderTexture* entry = RenderTexture::acquire(RenderTexture::shared, 64, 32, true, false, 36, D3DFMT_A8R8G8B8);
    ASSERT_NE(entry, nullptr);
    TextureRef user = entry->renderTexture; // another owner's reference to the target

    D3D::Device::reset(record, nullptr);
    EXPECT_EQ(record.resetting, 0u);

    EXPECT_EQ(managed.texture(), managedRecord);
    const Level kept = readLevel(managed);
    ASSERT_EQ(kept.width, 16u);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x)
            ASSERT_EQ(kept.at(x, y), patternTexel(x, y));
    TextureRef unbound;
    EXPECT_EQ(readLevel(unbound).at(4, 0), 0xFF000084u);

    // The target was made again; references to the old one became empty.
    EXPECT_FALSE(user.isBound());
    ASSERT_TRUE(entry->renderTexture.isBound());
    ASSERT_NE(entry->renderSurface, nullptr);
    EXPECT_TRUE(entry->lockTexture.isBound());
    EXPECT_EQ(RenderTexture::acquire(RenderTexture::shared, 64, 32, false, false, 36, D3DFMT_A8R8G8B8), entry);
    ASSERT_NE(record.sharedTarget256->renderSurface, nullptr);
    EXPECT_NE(record.sharedTarget256->depthSurface, nullptr);
    drawInto(*entry);
    TextureRef copy;
    ASSERT_TRUE(Texture::create(copy, String(L"after reset"), 64, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    RenderTexture::captureBackBuffer(*entry, copy);
    expectDrawn(readLevel(copy));
    RenderTexture::releaseByKey(RenderTexture::shared, entry);
}

}
