// Pixel operations on 16- and 32-bit levels five texels wide, whose locked
// rows are wider than their texels.
#include "TestDevice.h"

#include "Core/Color.h"
#include "Core/FileArray.h"

#include <d3dx9.h>

#include <algorithm>

using namespace TestDevice;

namespace {

class TexturePixels : public DeviceSuite
{
};

const auto uniform = [](uint32_t value) { return [value](uint32_t, uint32_t) { return value; }; };

TEST_F(TexturePixels, FillRectangles)
{
    TextureRef ref = makeTexture(5, 4, D3DFMT_A8R8G8B8, uniform(0x80102030u));
    const uint8_t colour[4] = {0x11, 0x22, 0x33, 0x44}; // B, G, R, A
    // A rectangle starting at the last column starts one column earlier;
    // without write-alpha the texels keep their alpha.
    Texture::fillRect(ref, 4, 4, 1, 2, colour, 0, false, false);
    // Subtracting never wraps below zero.
    Texture::fillRect(ref, 0, 1, 0, 1, colour, 0, true, false);
    const auto want = [](uint32_t x, uint32_t y) {
        return x <= 1 && y <= 1 ? 0x3C00001Fu : x >= 3 && y >= 1 && y <= 2 ? 0x80332211u : 0x80102030u;
    };
    EXPECT_EQ(wrongTexels(readLevel(ref), want), 0);

    // A rectangle reaching past the right and bottom edges stops at them.
    TextureRef edge = makeTexture(5, 4, D3DFMT_A8R8G8B8, uniform(0x80102030u));
    Texture::fillRect(edge, 3, 9, 2, 9, colour, 0, false, true);
    EXPECT_EQ(wrongTexels(readLevel(edge),
                          [](uint32_t x, uint32_t y) { return x >= 3 && y >= 2 ? 0x44332211u : 0x80102030u; }),
              0);

    // 16-bit levels take the colour converted to their format.
    TextureRef narrow = makeTexture(5, 3, D3DFMT_R5G6B5, uniform(0));
    const uint8_t green[4] = {0x00, 0xFF, 0x00, 0xFF};
    Texture::fillRect(narrow, 1, 3, -1, -1, green, 0, false, false);
    const Level n = readLevel(narrow);
    ASSERT_GT(n.pitch, 10);
    EXPECT_EQ(wrongTexels(n, [](uint32_t x, uint32_t) { return x >= 1 && x <= 3 ? 0x07E0u : 0u; }), 0);
}

// The texel function is given each texel's place and the level's description
// (the sun's brightness depends on the distance to the level's centre).
TEST_F(TexturePixels, ProceduralFillWritesEveryTexelFromItsPlaceAndTheLevel)
{
    TextureRef ref = makeTexture(5, 3, D3DFMT_A8R8G8B8, uniform(0));
    Texture::fillProcedural(ref, [](uint8_t* texel, uint32_t x, uint32_t y, const D3DSURFACE_DESC& level) {
        const uint32_t value = level.Width << 24 | level.Height << 16 | y << 8 | x;
        std::memcpy(texel, &value, 4);
    });
    EXPECT_EQ(wrongTexels(readLevel(ref), [](uint32_t x, uint32_t y) { return 5u << 24 | 3u << 16 | y << 8 | x; }), 0);
}

TEST_F(TexturePixels, MipLevelsOf16BitTexturesKeepTheirOwnFormat)
{
    // Uniform levels stay uniform in every 16-bit layout.
    const std::pair<D3DFORMAT, uint32_t> cases[] = {
        {D3DFMT_R5G6B5, 0x07E0}, {D3DFMT_A4R4G4B4, 0xF4A5}, {D3DFMT_A1R5G5B5, 0xFC00}};
    for (const auto& [format, value] : cases) {
        TextureRef ref = makeTexture(8, 8, format, uniform(value), 3);
        Texture::generateMipLevels(ref);
        for (uint32_t level = 1; level < 3; ++level)
            EXPECT_EQ(wrongTexels(readLevel(ref, level), uniform(value)), 0) << format << " level " << level;
    }
    // Red beside blue in R5G6B5 blends as colours: purple.
    const auto stripes = [](uint32_t x, uint32_t) { return x % 2 ? 0x001Fu : 0xF800u; };
    TextureRef mixed = makeTexture(4, 4, D3DFMT_R5G6B5, stripes, 2);
    Texture::generateMipLevels(mixed);
    const Color c = toColor(ColorR5G6B5(uint16_t(readLevel(mixed, 1).at(1, 1))));
    EXPECT_NEAR(c.r, 3 * 255 / 5, 12);
    EXPECT_NEAR(c.b, 2 * 255 / 5, 12);
    EXPECT_LT(c.g, 8);
}

// A 32-bit level: each texel of the next level is its centre pulled toward
// its four neighbours (clamped at the edges) by their alpha, and keeps the
// centre's alpha; checked against that sum done by hand.
TEST_F(TexturePixels, MipLevelsOf32BitTexturesPullTheCentreTowardTheNeighbours)
{
    constexpr int side = 8;
    TextureRef ref = makeTexture(side, side, D3DFMT_A8R8G8B8, pattern(7), 2);
    Texture::generateMipLevels(ref);
    const Level small = readLevel(ref, 1);
    ASSERT_EQ(small.width, uint32_t(side / 2));
    const auto texel = [](int x, int y) {
        return Color::fromArgb(patternTexel(uint32_t(std::clamp(x, 0, side - 1)), uint32_t(std::clamp(y, 0, side - 1)), 7));
    };
    const auto expected = [&](uint32_t x, uint32_t y) {
        const int cx = int(2 * x), cy = int(2 * y);
        const Color c = texel(cx, cy);
        const Color n[4] = {texel(cx + 1, cy), texel(cx - 1, cy), texel(cx, cy + 1), texel(cx, cy - 1)};
        int sums[3] = {c.r, c.g, c.b};
        for (const Color& neighbour : n) {
            const double a = neighbour.a * (1.0 / 255.0);
            sums[0] += int((1.0 - a) * c.r + a * neighbour.r);
            sums[1] += int((1.0 - a) * c.g + a * neighbour.g);
            sums[2] += int((1.0 - a) * c.b + a * neighbour.b);
        }
        return Color(uint8_t(sums[0] / 5), uint8_t(sums[1] / 5), uint8_t(sums[2] / 5), c.a).argb();
    };
    EXPECT_EQ(wrongTexels(small, expected), 0);
}

TEST_F(TexturePixels, AlphaAndWhiteFromRed)
{
    TextureRef ref = makeTexture(5, 3, D3DFMT_A8R8G8B8, pattern());
    Texture::whiteFromRed(ref);
    const auto white = [](uint32_t x, uint32_t y) { return (patternTexel(x, y) & 0xFF0000u) << 8 | 0xFFFFFFu; };
    EXPECT_EQ(wrongTexels(readLevel(ref), white), 0);

    // A cube record has no 2D level; 16-bit texels have no red byte.
    TextureRef cube;
    ASSERT_TRUE(Texture::createCube(cube, String(L"cube"), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    ASSERT_NE(cube.texture()->cubeTexture, nullptr);
    Texture::alphaFromRed(cube);
    const auto ramp = [](uint32_t x, uint32_t) { return 0x7C00u + x; };
    TextureRef narrow = makeTexture(5, 3, D3DFMT_A1R5G5B5, ramp);
    Texture::alphaFromRed(narrow);
    EXPECT_EQ(wrongTexels(readLevel(narrow), ramp), 0);
}

TEST_F(TexturePixels, DuplicatesKeepFormatAndTexels)
{
    for (D3DFORMAT format : {D3DFMT_R5G6B5, D3DFMT_A8R8G8B8}) {
        TextureRef source = makeTexture(5, 4, format, pattern());
        TextureRef copy;
        ASSERT_TRUE(Texture::duplicate(source, copy));
        ASSERT_NE(copy.texture(), source.texture());
        D3DSURFACE_DESC a{}, b{};
        source.texture()->texture->GetLevelDesc(0, &a);
        copy.texture()->texture->GetLevelDesc(0, &b);
        EXPECT_EQ(b.Format, a.Format);
        EXPECT_EQ(readLevel(copy).texels, readLevel(source).texels) << "format " << format;
    }
}

// DXT3 copies of 32-bit textures (the engine's own encoder) and of 16-bit
// ones (through D3DX), read back through D3DX's decoder. Colours that
// R5G6B5 holds, two to a block, and alphas of whole sixteenths come back as
// they were.
TEST_F(TexturePixels, Dxt3CopiesKeepTwoColoursABlockAndTheirAlpha)
{
    const auto texel = [](uint32_t x, uint32_t y) {
        static constexpr uint32_t colours[4] = {0x849608u, 0x081021u, 0xFF0400u, 0x00FFFFu};
        static constexpr uint32_t alphas[3] = {0x00u, 0x88u, 0xFFu};
        const uint32_t block = (x / 4 + y / 4) % 3;
        return alphas[(x + 2 * y) % 3] << 24 | colours[block + (x + y) % 2];
    };
    struct Case
    {
        D3DFORMAT format;
        uint32_t width, height;
    };
    for (const Case& c : {Case{D3DFMT_A8R8G8B8, 16, 8}, Case{D3DFMT_A8R8G8B8, 8, 16}, Case{D3DFMT_R5G6B5, 8, 8}}) {
        SCOPED_TRACE(testing::Message() << c.format << " " << c.width << " x " << c.height);
        const bool wide = c.format == D3DFMT_A8R8G8B8;
        TextureRef source = makeTexture(c.width, c.height, c.format, [&](uint32_t x, uint32_t y) {
            const uint32_t t = texel(x, y);
            return wide ? t : uint32_t((t >> 8 & 0xF800) | (t >> 5 & 0x07E0) | (t >> 3 & 0x1F));
        });
        TextureRef packed;
        ASSERT_TRUE(Texture::createCopyViaMemory(source, 1, packed, D3DFMT_DXT3));
        D3DSURFACE_DESC desc{};
        packed.texture()->texture->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, D3DFMT_DXT3);
        EXPECT_EQ(desc.Width, c.width);
        EXPECT_EQ(desc.Height, c.height);
        IDirect3DSurface9* level = nullptr;
        IDirect3DSurface9* plain = nullptr;
        ASSERT_TRUE(SUCCEEDED(packed.texture()->texture->GetSurfaceLevel(0, &level)));
        ASSERT_TRUE(SUCCEEDED(gDevice->CreateOffscreenPlainSurface(c.width, c.height, D3DFMT_A8R8G8B8,
                                                                   D3DPOOL_SYSTEMMEM, &plain, nullptr)));
        EXPECT_TRUE(SUCCEEDED(D3DXLoadSurfaceFromSurface(plain, nullptr, nullptr, level, nullptr, nullptr,
                                                         D3DX_FILTER_NONE, 0)));
        const Level texels = readSurface(plain);
        plain->Release();
        level->Release();
        ASSERT_EQ(texels.texels.size(), size_t(c.width) * c.height);
        int wrong = 0;
        for (uint32_t y = 0; y < c.height; ++y)
            for (uint32_t x = 0; x < c.width; ++x) {
                const uint32_t want = wide ? texel(x, y) : 0xFF000000u | (texel(x, y) & 0xFFFFFFu);
                wrong += texels.at(x, y) != want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

// A copy that cannot be made, or only in another format than asked for, is
// reported and leaves the caller's reference as it was.
TEST_F(TexturePixels, CopiesThatCannotBeMadeAreReported)
{
    const auto wide = pattern(2);
    TextureRef source = makeTexture(8, 4, D3DFMT_R5G6B5, [&](uint32_t x, uint32_t y) { return wide(x, y) & 0xFFFF; });
    TextureRef converted;
    ASSERT_TRUE(Texture::createCopyViaMemory(source, 1, converted, D3DFMT_A8R8G8B8));
    const Level texels = readLevel(converted);
    ASSERT_EQ(texels.width, 8u);
    const Level packed = readLevel(source);
    int wrong = 0;
    for (uint32_t i = 0; i < texels.texels.size(); ++i) {
        const uint32_t c = texels.texels[i], p = packed.texels[i];
        const int want[3] = {int(p >> 11) * 255 / 31, int(p >> 5 & 63) * 255 / 63, int(p & 31) * 255 / 31};
        const int got[3] = {int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255)};
        for (int k = 0; k < 3; ++k)
            wrong += std::abs(got[k] - want[k]) > 4;
        wrong += c >> 24 != 255;
    }
    EXPECT_EQ(wrong, 0);

    TextureRef kept = makeTexture(4, 4, D3DFMT_A8R8G8B8, pattern());
    const Texture* before = kept.texture();
    // UYVY and depth formats are no texture formats of the device.
    for (uint32_t format : {uint32_t(D3DFMT_UYVY), uint32_t(D3DFMT_D24S8)}) {
        SCOPED_TRACE(format);
        EXPECT_FALSE(Texture::createCopyViaMemory(source, 1, kept, format));
        EXPECT_FALSE(Texture::createCopyViaMemory(TextureRef(), 1, kept, format));
        EXPECT_EQ(kept.texture(), before);
    }

    // A level that cannot be read (a render target) or a size that cannot be
    // made (one texel wide) gives no duplicate.
    TextureRef target;
    ASSERT_TRUE(Texture::create(target, String(L"target"), 8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                D3DPOOL_DEFAULT));
    TextureRef narrow;
    FileArray bytes(256);
    const std::vector<uint8_t> file = ImageFileWriter::dds(patternImage(1, 4));
    bytes.write(file.data(), uint32_t(file.size()));
    bytes.seek(0, 0);
    ASSERT_TRUE(Texture::loadFromMemory(bytes, nullptr, narrow, String(L"narrow"), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                        D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE));
    for (const TextureRef* unusable : {&target, &narrow}) {
        EXPECT_FALSE(Texture::duplicate(*unusable, kept));
        EXPECT_EQ(kept.texture(), before);
    }
}

}

namespace {

// Render targets, a 2D one and the six faces of a cube, cleared to colours of
// their own, come back in textures of the same kind, size and format; a
// destination of another kind or size is left alone.
TEST_F(TexturePixels, RenderTargetsAreCopiedIntoTexturesFaceByFace)
{
    const uint32_t colours[6] = {0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u, 0xFFD0E0F0u, 0xFF0F1F2Fu};
    TextureRef target, cubeTarget, copy, cubeCopy, wrongSize;
    ASSERT_TRUE(Texture::create(target, String(L"target"), 8, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                D3DPOOL_DEFAULT));
    ASSERT_TRUE(Texture::createCube(cubeTarget, String(L"cube target"), 8, 1, D3DUSAGE_RENDERTARGET,
                                    D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT));
    ASSERT_TRUE(Texture::create(copy, String(L"copy"), 8, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    ASSERT_TRUE(Texture::createCube(cubeCopy, String(L"cube copy"), 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    wrongSize = makeTexture(8, 8, D3DFMT_A8R8G8B8, uniform(0x11111111u));

    const auto clear = [](IDirect3DSurface9* surface, uint32_t colour) {
        chain().pushRenderTarget(surface, nullptr);
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0);
        chain().popRenderTarget();
        surface->Release();
    };
    IDirect3DSurface9* surface = nullptr;
    target.texture()->texture->GetSurfaceLevel(0, &surface);
    clear(surface, 0xFF336699u);
    for (uint32_t face = 0; face < 6; ++face) {
        cubeTarget.texture()->cubeTexture->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &surface);
        clear(surface, colours[face]);
    }

    Texture::copyRenderTarget(target, copy);
    EXPECT_EQ(wrongTexels(readLevel(copy), uniform(0xFF336699u)), 0);
    Texture::copyRenderTarget(cubeTarget, cubeCopy);
    for (uint32_t face = 0; face < 6; ++face) {
        cubeCopy.texture()->cubeTexture->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &surface);
        EXPECT_EQ(wrongTexels(readSurface(surface), uniform(colours[face])), 0) << "face " << face;
        surface->Release();
    }
    Texture::copyRenderTarget(target, wrongSize);
    Texture::copyRenderTarget(cubeTarget, copy);
    EXPECT_EQ(wrongTexels(readLevel(wrongSize), uniform(0x11111111u)), 0);
    EXPECT_EQ(wrongTexels(readLevel(copy), uniform(0xFF336699u)), 0);
}

}
