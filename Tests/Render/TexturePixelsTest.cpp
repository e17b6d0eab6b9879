// Pixel operations on 16- and 32-bit levels five texels wide, whose locked
// rows are wider than their texels.
#include "TestDevice.h"

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
    const Level l = readLevel(ref);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            const uint32_t want = x <= 1 && y <= 1            ? 0x3C00001Fu
                                  : x >= 3 && y >= 1 && y <= 2 ? 0x80332211u
                                                               : 0x80102030u;
            EXPECT_EQ(l.at(x, y), want) << x << "," << y;
        }

    // 16-bit levels take the colour converted to their format.
    TextureRef narrow = makeTexture(5, 3, D3DFMT_R5G6B5, uniform(0));
    const uint8_t green[4] = {0x00, 0xFF, 0x00, 0xFF};
    Texture::fillRect(narrow, 1, 3, -1, -1, green, 0, false, false);
    const Level n = readLevel(narrow);
    ASSERT_GT(n.pitch, 10);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(n.at(x, y), (x >= 1 && x <= 3) ? 0x07E0u : 0u) << x << "," << y;
}

TEST_F(TexturePixels, MipLevelsOf16BitTexturesKeepTheirOwnFormat)
{
    // Uniform levels stay uniform in every 16-bit layout.
    const std::pair<D3DFORMAT, uint32_t> cases[] = {{D3DFMT_R5G6B5, 0xF800},
                                                    {D3DFMT_R5G6B5, 0x07E0},
                                                    {D3DFMT_A4R4G4B4, 0xF4A5},
                                                    {D3DFMT_A1R5G5B5, 0xFC00},
                                                    {D3DFMT_X1R5G5B5, 0x03FF}};
    for (const auto& [format, value] : cases) {
        TextureRef ref = makeTexture(8, 8, format, uniform(value), 3);
        Texture::generateMipLevels(ref);
        for (uint32_t level = 1; level < 3; ++level)
            for (uint32_t v : readLevel(ref, level).texels)
                ASSERT_EQ(v, value) << "format " << format << " level " << level;
    }
}

TEST_F(TexturePixels, AlphaAndWhiteFromRed)
{
    TextureRef ref = makeTexture(5, 3, D3DFMT_A8R8G8B8, pattern());
    Texture::whiteFromRed(ref);
    const Level l = readLevel(ref);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(l.at(x, y), (patternTexel(x, y) & 0xFF0000u) << 8 | 0xFFFFFFu);

    // A cube record has no 2D level; 16-bit texels have no red byte.
    TextureRef cube;
    ASSERT_TRUE(Texture::createCube(cube, String(L"cube"), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    ASSERT_NE(cube.texture()->cubeTexture, nullptr);
    Texture::alphaFromRed(cube);
    TextureRef narrow = makeTexture(5, 3, D3DFMT_A1R5G5B5, [](uint32_t x, uint32_t) { return 0x7C00u + x; });
    Texture::alphaFromRed(narrow);
    const Level n = readLevel(narrow);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(n.at(x, y), 0x7C00u + x);
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

}
