// Textures shown in a window's GDI bitmap: level 0 resampled into the
// bitmap's pixels (converted first when it is not A8R8G8B8), as read back
// from the bitmap.
#include "TestDevice.h"

#include "Render/TextureBitmap.h"

#include <cstdlib>

using namespace TestDevice;

namespace {

class TextureBitmaps : public DeviceSuite
{
};

// The bitmap's pixels as A8R8G8B8 (alpha left out), top row first.
std::vector<uint32_t> bitmapPixels(const StructTexture& target, int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> out(size_t(width) * height);
    HDC dc = GetDC(target.window);
    GetDIBits(dc, target.bitmap, 0, UINT(height), out.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(target.window, dc);
    for (uint32_t& p : out)
        p &= 0xFFFFFF;
    return out;
}

TEST_F(TextureBitmaps, LevelZeroLandsInTheBitmapRowByRow)
{
    constexpr int side = 8;
    const auto texel = pattern(4);
    struct Case
    {
        D3DFORMAT format;
        uint32_t bitmapFormat; // 21 A8R8G8B8, 25 A1R5G5B5
        int tolerance;         // per channel
    };
    for (const Case& c : {Case{D3DFMT_A8R8G8B8, 21, 0}, Case{D3DFMT_X1R5G5B5, 21, 8}, Case{D3DFMT_A8R8G8B8, 25, 8}}) {
        SCOPED_TRACE(c.format * 100 + c.bitmapFormat);
        TextureRef source;
        if (c.format == D3DFMT_A8R8G8B8) {
            source = makeTexture(side, side, c.format, texel);
        } else {
            // The same colours in five bits a channel.
            source = makeTexture(side, side, c.format, [&](uint32_t x, uint32_t y) {
                const uint32_t t = texel(x, y);
                return 0x8000u | (t >> 19 & 31) << 10 | (t >> 11 & 31) << 5 | (t >> 3 & 31);
            });
        }
        StructTexture target;
        target.window = window;
        target.pixelFormat = c.bitmapFormat;
        target.info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        target.info.bmiHeader.biWidth = side;
        target.info.bmiHeader.biHeight = -side; // top row first
        target.info.bmiHeader.biPlanes = 1;
        target.info.bmiHeader.biBitCount = c.bitmapFormat == 25 ? 16 : 32;
        target.info.bmiHeader.biCompression = BI_RGB;
        ASSERT_TRUE(target.pixels32.resize(side, side));
        if (c.bitmapFormat == 25) {
            ASSERT_TRUE(target.pixels16.resize(side, side));
        }
        HDC dc = GetDC(window);
        target.bitmap = CreateCompatibleBitmap(dc, side, side);
        ReleaseDC(window, dc);
        ASSERT_NE(target.bitmap, nullptr);

        StructTexture::copyToBitmap(source, target);
        const std::vector<uint32_t> shown = bitmapPixels(target, side, side);
        int wrong = 0;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const uint32_t want = texel(uint32_t(x), uint32_t(y)), got = shown[size_t(y) * side + x];
                for (int shift : {0, 8, 16})
                    wrong += std::abs(int(want >> shift & 255) - int(got >> shift & 255)) > c.tolerance;
            }
        EXPECT_EQ(wrong, 0);
        DeleteObject(target.bitmap);
    }
}

}
