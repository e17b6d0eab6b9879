// Pixel operations on real textures, including 16- and 32-bit levels whose
// locked rows are wider than their texels.
#include "TextureTestDevice.h"

#include "Render/TextureBitmap.h"

#include "Core/Color.h"

#include <d3dx9.h>

using namespace TextureTest;

namespace {

class TexturePixels : public DeviceSuite
{
protected:
    static TextureRef make(uint32_t width, uint32_t height, uint32_t levels, D3DFORMAT format)
    {
        TextureRef ref;
        EXPECT_TRUE(Texture::create(ref, String(L"pixels"), width, height, levels, 0, format, D3DPOOL_MANAGED));
        return ref;
    }
};

Color colourOf(uint32_t argb) { return Color::fromArgb(argb); }

// The expected lower texel: the centre pulled toward each of its four
// neighbours by the neighbour's opacity, channels averaged over five.
uint32_t expectedMip(const Level& big, uint32_t x, uint32_t y)
{
    const int w = int(big.width), h = int(big.height);
    const int cx = std::min(int(2 * x), w - 1), cy = std::min(int(2 * y), h - 1);
    const Color c = colourOf(big.at(cx, cy));
    const Color n[4] = {colourOf(big.at(cx + 1 < w ? cx + 1 : cx, cy)), colourOf(big.at(cx > 0 ? cx - 1 : 0, cy)),
                        colourOf(big.at(cx, cy + 1 < h ? cy + 1 : cy)), colourOf(big.at(cx, cy > 0 ? cy - 1 : 0))};
    int r = c.r, g = c.g, b = c.b;
    for (const Color& k : n) {
        const double a = k.a / 255.0;
        r += int((1 - a) * c.r + a * k.r);
        g += int((1 - a) * c.g + a * k.g);
        b += int((1 - a) * c.b + a * k.b);
    }
    return Color(uint8_t(r / 5), uint8_t(g / 5), uint8_t(b / 5), c.a).argb();
}

TEST_F(TexturePixels, LockedRowsOfTheTestTexturesAreWiderThanTheirTexels)
{
    // The row-by-row copies below are only tested when this holds.
    TextureRef wide16 = make(5, 4, 1, D3DFMT_R5G6B5);
    EXPECT_GT(readLevel(wide16).pitch, 10);
    TextureRef wide32 = make(5, 4, 1, D3DFMT_A8R8G8B8);
    RecordProperty("pitch32", readLevel(wide32).pitch);
}

TEST_F(TexturePixels, MipLevelsOf32BitTextures)
{
    TextureRef ref = make(8, 8, 4, D3DFMT_A8R8G8B8);
    writeLevel(ref.texture()->texture, [](uint32_t x, uint32_t y) {
        // Opaque except for a transparent corner block.
        const uint32_t alpha = (x < 2 && y < 2) ? 0x00 : (x + y) % 3 == 0 ? 0x80 : 0xFF;
        return alpha << 24 | (x * 30) << 16 | (y * 30) << 8 | ((x ^ y) * 20);
    });
    Texture::generateMipLevels(ref);
    for (uint32_t level = 1; level < 4; ++level) {
        const Level big = readLevel(ref, level - 1);
        const Level small = readLevel(ref, level);
        ASSERT_EQ(small.width, 8u >> level);
        for (uint32_t y = 0; y < small.height; ++y)
            for (uint32_t x = 0; x < small.width; ++x)
                EXPECT_EQ(small.at(x, y), expectedMip(big, x, y)) << level << ": " << x << "," << y;
    }
    // A fully transparent neighbourhood gives the centre colour.
    TextureRef clear = make(4, 4, 2, D3DFMT_A8R8G8B8);
    writeLevel(clear.texture()->texture, [](uint32_t x, uint32_t y) { return (x * 60) << 16 | (y * 60); });
    Texture::generateMipLevels(clear);
    const Level top = readLevel(clear, 0);
    const Level below = readLevel(clear, 1);
    EXPECT_EQ(below.at(1, 1), top.at(2, 2));
}

TEST_F(TexturePixels, MipLevelsOf16BitTexturesKeepTheirOwnFormat)
{
    struct Case
    {
        D3DFORMAT format;
        uint16_t value;
    };
    // Uniform levels stay uniform in every 16-bit layout.
    for (const Case c : {Case{D3DFMT_R5G6B5, 0xF800}, Case{D3DFMT_R5G6B5, 0x07E0}, Case{D3DFMT_A4R4G4B4, 0xF4A5},
                         Case{D3DFMT_A1R5G5B5, 0xFC00}, Case{D3DFMT_X1R5G5B5, 0x03FF}}) {
        TextureRef ref = make(8, 8, 3, c.format);
        writeLevel(ref.texture()->texture, [&](uint32_t, uint32_t) { return uint32_t(c.value); });
        Texture::generateMipLevels(ref);
        for (uint32_t level = 1; level < 3; ++level) {
            const Level l = readLevel(ref, level);
            for (uint32_t v : l.texels)
                ASSERT_EQ(v, c.value) << "format " << c.format << " level " << level;
        }
    }
    // Two colours in R5G6B5 blend as colours: red beside blue gives purple.
    TextureRef mixed = make(4, 4, 2, D3DFMT_R5G6B5);
    writeLevel(mixed.texture()->texture, [](uint32_t x, uint32_t) { return x % 2 ? 0x001Fu : 0xF800u; });
    Texture::generateMipLevels(mixed);
    const Color c = toColor(ColorR5G6B5(uint16_t(readLevel(mixed, 1).at(1, 1))));
    EXPECT_NEAR(c.r, 3 * 255 / 5, 12);
    EXPECT_NEAR(c.b, 2 * 255 / 5, 12);
    EXPECT_LT(c.g, 8);
}

TEST_F(TexturePixels, FillRectangles)
{
    TextureRef ref = make(5, 4, 1, D3DFMT_A8R8G8B8);
    const uint8_t colour[4] = {0x11, 0x22, 0x33, 0x44};
    writeLevel(ref.texture()->texture, [](uint32_t, uint32_t) { return 0x80102030u; });
    Texture::fillRect(ref, -1, -1, -1, -1, colour, 0, false, true);
    for (uint32_t v : readLevel(ref).texels)
        ASSERT_EQ(v, 0x44332211u);

    // A rectangle starting at the last column starts one column earlier;
    // without write-alpha the texels keep their alpha.
    writeLevel(ref.texture()->texture, [](uint32_t, uint32_t) { return 0x80102030u; });
    Texture::fillRect(ref, 4, 4, 1, 2, colour, 0, false, false);
    Level l = readLevel(ref);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(l.at(x, y), (x >= 3 && y >= 1 && y <= 2) ? 0x80332211u : 0x80102030u) << x << "," << y;

    // Subtracting never wraps below zero.
    Texture::fillRect(ref, 0, 1, 0, 1, colour, 0, true, false);
    l = readLevel(ref);
    EXPECT_EQ(l.at(0, 0), 0x3C000000u | 0x00 << 16 | 0x00 << 8 | 0x1F);
    EXPECT_EQ(l.at(2, 0), 0x80102030u);

    // 16-bit levels take the colour converted to their format.
    TextureRef narrow = make(5, 3, 1, D3DFMT_R5G6B5);
    const uint8_t green[4] = {0x00, 0xFF, 0x00, 0xFF};
    Texture::fillRect(narrow, 1, 3, -1, -1, green, 0, false, false);
    l = readLevel(narrow);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(l.at(x, y), (x >= 1 && x <= 3) ? 0x07E0u : 0u) << x << "," << y;
}

TEST_F(TexturePixels, AlphaAndWhiteFromRed)
{
    TextureRef ref = make(5, 3, 1, D3DFMT_A8R8G8B8);
    writeLevel(ref.texture()->texture, [](uint32_t x, uint32_t y) { return 0x10000000u | (x * 40 + y) << 16 | 0x7788; });
    Texture::whiteFromRed(ref);
    const Level l = readLevel(ref);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(l.at(x, y), (x * 40 + y) << 24 | 0xFFFFFFu);

    // A cube record has no 2D level; 16-bit texels have no red byte.
    TextureRef cube;
    ASSERT_TRUE(Texture::createCube(cube, String(L"cube"), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    ASSERT_NE(cube.texture()->cubeTexture, nullptr);
    Texture::alphaFromRed(cube);
    TextureRef narrow = make(5, 3, 1, D3DFMT_A1R5G5B5);
    writeLevel(narrow.texture()->texture, [](uint32_t x, uint32_t) { return 0x7C00u + x; });
    Texture::alphaFromRed(narrow);
    const Level n = readLevel(narrow);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(n.at(x, y), 0x7C00u + x);
}

TEST_F(TexturePixels, BleedingRunsOnceAndWrapsAround)
{
    TextureRef ref = make(4, 4, 1, D3DFMT_A8R8G8B8);
    writeLevel(ref.texture()->texture, [](uint32_t x, uint32_t y) { return x == 0 && y == 0 ? 0xFF123456u : 0u; });
    Texture::bleedIntoTransparent(ref);
    Level l = readLevel(ref);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            const bool neighbour = (x <= 1 || x == 3) && (y <= 1 || y == 3) && (x || y);
            EXPECT_EQ(l.at(x, y), x == 0 && y == 0 ? 0xFF123456u : neighbour ? 0x00123456u : 0u) << x << "," << y;
        }
    EXPECT_EQ(ref.texture()->alphaBled, 1u);
    writeLevel(ref.texture()->texture, [](uint32_t x, uint32_t y) { return x == 2 && y == 2 ? 0xFF654321u : 0u; });
    Texture::bleedIntoTransparent(ref);
    EXPECT_EQ(readLevel(ref).at(1, 1), 0u);

    TextureRef opaqueFormat = make(4, 4, 1, D3DFMT_X8R8G8B8);
    writeLevel(opaqueFormat.texture()->texture, [](uint32_t x, uint32_t) { return x == 0 ? 0xFF123456u : 0u; });
    Texture::bleedIntoTransparent(opaqueFormat);
    EXPECT_EQ(readLevel(opaqueFormat).at(1, 0), 0u);
    EXPECT_EQ(opaqueFormat.texture()->alphaBled, 0u);
}

TEST_F(TexturePixels, DuplicateAndProceduralFill)
{
    for (D3DFORMAT format : {D3DFMT_R5G6B5, D3DFMT_A8R8G8B8}) {
        TextureRef source;
        ASSERT_TRUE(Texture::create(source, String(L"source"), 6, 4, 1, 0, format, D3DPOOL_MANAGED));
        writeLevel(source.texture()->texture, [](uint32_t x, uint32_t y) { return 0xFF000000u | (x * 4099 + y * 31); });
        TextureRef copy;
        ASSERT_TRUE(Texture::duplicate(source, copy));
        ASSERT_NE(copy.texture(), source.texture());
        D3DSURFACE_DESC a{}, b{};
        source.texture()->texture->GetLevelDesc(0, &a);
        copy.texture()->texture->GetLevelDesc(0, &b);
        EXPECT_EQ(b.Format, a.Format);
        EXPECT_EQ(b.Pool, a.Pool);
        EXPECT_EQ(readLevel(copy).texels, readLevel(source).texels) << "format " << format;
    }

    TextureRef ref = make(5, 3, 1, D3DFMT_A8R8G8B8);
    Texture::fillProcedural(ref, [](uint8_t* texel, uint32_t x, uint32_t y) {
        const uint8_t v = uint8_t(x * 16 + y);
        texel[0] = texel[1] = texel[2] = texel[3] = v;
    });
    const Level l = readLevel(ref);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(l.at(x, y), (x * 16 + y) * 0x01010101u);
}

TEST_F(TexturePixels, CopyIntoAWindowBitmap)
{
    for (D3DFORMAT format : {D3DFMT_A8R8G8B8, D3DFMT_R5G6B5}) {
        TextureRef ref = make(8, 4, 1, format);
        writeLevel(ref.texture()->texture, [&](uint32_t x, uint32_t y) {
            const Color c(uint8_t(x * 32), uint8_t(y * 64), 0xF8, 0xFF);
            return format == D3DFMT_R5G6B5 ? uint32_t(fromColor<ColorR5G6B5>(c).value) : c.argb();
        });
        StructTexture target;
        target.window = window;
        target.info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        target.info.bmiHeader.biWidth = 8;
        target.info.bmiHeader.biHeight = -4;
        target.info.bmiHeader.biPlanes = 1;
        target.info.bmiHeader.biBitCount = 32;
        target.info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HDC dc = GetDC(window);
        target.bitmap = CreateDIBSection(dc, &target.info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(window, dc);
        ASSERT_NE(target.bitmap, nullptr);
        ASSERT_TRUE(target.pixels32.resize(8, 4));
        StructTexture::copyToBitmap(ref, target);
        GdiFlush();
        const auto* shown = static_cast<const uint32_t*>(bits);
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 8; ++x) {
                const Color want(uint8_t(x * 32), uint8_t(y * 64), 0xF8, 0xFF);
                const Color got = Color::fromArgb(shown[y * 8 + x]);
                EXPECT_NEAR(got.r, want.r, 8) << x << "," << y;
                EXPECT_NEAR(got.g, want.g, 8) << x << "," << y;
                EXPECT_NEAR(got.b, want.b, 8) << x << "," << y;
            }
        DeleteObject(target.bitmap);
    }
}

}
