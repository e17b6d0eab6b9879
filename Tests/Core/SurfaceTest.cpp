#include "Core/Color.h"
#include "Core/PixelFormat.h"
#include "Core/Surface1d.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
constexpr uint32_t R8G8B8 = 20, A8R8G8B8 = 21, X8R8G8B8 = 22, R5G6B5 = 23, X1R5G5B5 = 24, A1R5G5B5 = 25,
                   A4R4G4B4 = 26, X4R4G4B4 = 30;

// Writes `argb` in format f (the pixel sits in the low bytes, R8G8B8 too).
uint32_t make(uint32_t argb, uint32_t f) { return convertPixel(&argb, A8R8G8B8, f, uint8_t(argb >> 24)); }
Color read(uint32_t pixel, uint32_t f) { return Color::fromArgb(convertPixel(&pixel, f, A8R8G8B8, 255)); }
}

TEST(PixelFormats, EveryPairKeepsBlackAndWhiteWithinOneStepAndEachChannelInItsPlace)
{
    const uint32_t formats[] = {R8G8B8, A8R8G8B8, X8R8G8B8, R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4, X4R4G4B4};
    auto alphaBits = [](uint32_t f) {
        return f == R8G8B8 || f == R5G6B5 || f == X1R5G5B5 || f == X4R4G4B4 ? 0 : f == A1R5G5B5 ? 1
               : f == A4R4G4B4                                             ? 4
                                                                           : 8;
    };
    auto step = [](uint32_t f) { return f <= X8R8G8B8 ? 0 : f >= A4R4G4B4 ? 17 : 8; };
    for (uint32_t s : formats)
        for (uint32_t d : formats) {
            SCOPED_TRACE(testing::Message() << s << " to " << d);
            auto convert = [&](uint32_t argb) {
                const uint32_t source = make(argb, s);
                return read(convertPixel(&source, s, d, 255), d);
            };
            EXPECT_EQ(convert(0xFF000000u), Color(0, 0, 0, 255));
            const Color white = convert(0xFFFFFFFFu), green = convert(0xFF00FF00u), mid = convert(0x80808080u);
            for (int channel : {white.r, white.g, white.b, white.a, green.g})
                EXPECT_GE(channel, 255 - step(s) - step(d));
            EXPECT_EQ(green.r + green.b, 0); // each channel in its own place
            for (int channel : {mid.r, mid.g, mid.b})
                EXPECT_LE(std::abs(channel - 128), step(s) + step(d));
            // 128 keeps a one-bit alpha set; four bits give 136; no alpha reads as opaque.
            const int bits = std::min(alphaBits(s), alphaBits(d));
            EXPECT_EQ(mid.a, bits == 0 || bits == 1 ? 255 : bits == 4 ? 136 : 128);
        }
    EXPECT_EQ(toColor(ColorValue24(2.0f, -1.0f, 0.5f)), Color(255, 0, 128, 255)); // floats clamp to 0..1
}

TEST(PixelFormats, ExactValuesOfTheConversions)
{
    const struct {
        uint32_t source, from, to;
        uint8_t alpha;
        uint32_t expected;
    } cases[] = {
        {0xFFFF8000u, A8R8G8B8, R5G6B5, 255, 0xFC00u},
        {0xFFFFu, R5G6B5, A8R8G8B8, 255, 0xFFF8FCF8u}, // channels at the top of their bytes
        {0xFFFFu, R5G6B5, X8R8G8B8, 0x40, 0x40F8FCF8u},
        {0xFFFFu, R5G6B5, R8G8B8, 0x40, 0xFFF8FCF8u},
        {0x07E0u, R5G6B5, A8R8G8B8, 255, 0xFF00FC00u},
        {0x0000u, R5G6B5, A1R5G5B5, 255, 0x8000u}, // the top bit of the alpha byte
        {0x0000u, R5G6B5, A1R5G5B5, 128, 0x8000u},
        {0x0000u, R5G6B5, A1R5G5B5, 1, 0x0000u},
        {0x7FFFu, X1R5G5B5, R5G6B5, 255, 0xFFDFu}, // five bits of green at the top of six
        {0xFFFFu, A1R5G5B5, R5G6B5, 255, 0xFFDFu},
        {0x7FFFu, X1R5G5B5, A8R8G8B8, 255, 0xFFFFFFFFu}, // no alpha: the argument's
        {0x7FFFu, X1R5G5B5, A8R8G8B8, 0x20, 0x20FFFFFFu},
        {0x7FFFu, A1R5G5B5, A8R8G8B8, 255, 0x00FFFFFFu},
        {0xFFFFu, A1R5G5B5, A8R8G8B8, 0, 0xFFFFFFFFu},
        {0x0FFFu, X4R4G4B4, A8R8G8B8, 0x80, 0x80FFFFFFu},
        {0xF0F0u, A4R4G4B4, A8R8G8B8, 0, 0xFF00FF00u},
        {0x12345678u, X8R8G8B8, A8R8G8B8, 0, 0x12345678u}, // read as it stands
        {0x7FFFFFFFu, X8R8G8B8, A1R5G5B5, 255, 0x7FFFu},
        {0xFF804020u, A8R8G8B8, A1R5G5B5, 0, 0xC104u},
        {0x00102030u, R8G8B8, A8R8G8B8, 0x80, 0x80102030u},
        {0x1234u, 99, A8R8G8B8, 255, 0},
        {0x1234u, R5G6B5, 99, 255, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(convertPixel(&c.source, c.from, c.to, c.alpha), c.expected)
            << std::hex << c.source << " from " << std::dec << c.from << " to " << c.to;
}

TEST(Surface1d, ResampleBlendsNeighboursAndClampsAtTheEdge)
{
    // Left column black, right column red; the bottom right pixel is also blue.
    surface1d<Color> s(2, 2);
    s.pixels[0] = s.pixels[2] = Color(0, 0, 0, 255);
    s.pixels[1] = Color(255, 0, 0, 255);
    s.pixels[3] = Color(255, 0, 255, 255);
    surface1d<Color> target;
    s.resample(4, 4, false, &target);
    ASSERT_EQ(target.width, 4);
    ASSERT_EQ(target.height, 4);
    const uint8_t ramp[4] = {0, 127, 255, 255};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(target.pixels[y * 4 + x].r, ramp[x]) << x << "," << y;
            if (x != 1) {
                EXPECT_EQ(target.pixels[y * 4 + x].b, x == 0 ? 0 : ramp[y]) << x << "," << y;
            }
        }
}

// Whole-pixel positions outside the image read the wrapped pixel with wrap on
// and the edge pixel without, in both directions.
TEST(Surface1d, SamplesOutsideTheImageWrapOrClamp)
{
    surface1d<Color> s(4, 4);
    for (int i = 0; i < 16; ++i)
        s.pixels[i] = Color(uint8_t(i * 10), uint8_t(i * 5), uint8_t(255 - i), 255);
    const struct {
        float u, v;
        uint32_t wrap;
        int x, y;
    } cases[] = {{1.25f, 1.5f, 1, 1, 2},  {-0.25f, -0.5f, 1, 3, 2}, {0.5f, -0.75f, 1, 2, 1},
                 {1.25f, 1.5f, 0, 3, 3},  {-0.25f, -0.5f, 0, 0, 0}, {0.5f, -0.75f, 0, 2, 0},
                 {0.25f, 0.75f, 1, 1, 3}, {0.25f, 0.75f, 0, 1, 3}};
    for (const auto& c : cases) {
        s.u = c.u;
        s.v = c.v;
        s.wrap = c.wrap;
        EXPECT_EQ(s.sample(), s.pixels[c.y * 4 + c.x]) << c.u << "," << c.v << " wrap " << c.wrap;
    }
}
