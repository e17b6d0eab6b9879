#include "Core/Color.h"
#include "Core/PixelFormat.h"
#include "Core/Surface1d.h"
#include "Core/Surface2d.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

namespace
{
// The test colours of every pixel type, made from one Color each.
enum Sample
{
    Black,
    White,
    Grey,
    Red,
    Green,
    Blue,
    Transparent, // white with alpha 0
    SampleCount
};

constexpr Color sampleColor(Sample s)
{
    switch (s) {
    case Black: return Color(0, 0, 0, 255);
    case White: return Color(255, 255, 255, 255);
    case Grey: return Color(128, 128, 128, 128);
    case Red: return Color(255, 0, 0, 255);
    case Green: return Color(0, 255, 0, 255);
    case Blue: return Color(0, 0, 255, 255);
    default: return Color(255, 255, 255, 0);
    }
}

template <class T>
constexpr bool hasAlpha = std::is_same_v<T, Color> || std::is_same_v<T, ColorA1R5G5B5> ||
                          std::is_same_v<T, ColorA4R4G4B4>;

// The largest error a channel may pick up through a type: its quantisation step.
template <class T>
constexpr int channelStep()
{
    if constexpr (std::is_same_v<T, ColorA4R4G4B4>)
        return 17;
    else if constexpr (std::is_same_v<T, ColorA1R5G5B5> || std::is_same_v<T, ColorR5G6B5>)
        return 8;
    else
        return 1;
}

template <class S, class D>
void checkPair()
{
    SCOPED_TRACE(testing::Message() << "format " << enumFormat<S>::value << " to " << enumFormat<D>::value);
    const int tolerance = channelStep<S>() + channelStep<D>();
    for (int i = 0; i < SampleCount; ++i) {
        const Color want = sampleColor(Sample(i));
        const S source = fromColor<S>(want);
        const Color got = toColor(convertColor<D>(source));
        SCOPED_TRACE(testing::Message() << "sample " << i);
        if (i == Grey) {
            EXPECT_LE(std::abs(got.r - 128), tolerance);
            EXPECT_LE(std::abs(got.g - 128), tolerance);
            EXPECT_LE(std::abs(got.b - 128), tolerance);
        } else {
            // Extreme channels survive every type exactly, each in its own place.
            EXPECT_EQ(got.r, want.r);
            EXPECT_EQ(got.g, want.g);
            EXPECT_EQ(got.b, want.b);
        }
        if (!hasAlpha<S> || !hasAlpha<D>) {
            EXPECT_EQ(got.a, 255);
        } else if (i == Grey) {
            // 128 keeps the one-bit alpha set; four bits give 136.
            const bool oneBit = std::is_same_v<S, ColorA1R5G5B5> || std::is_same_v<D, ColorA1R5G5B5>;
            EXPECT_EQ(got.a, oneBit ? 255 : (std::is_same_v<S, ColorA4R4G4B4> || std::is_same_v<D, ColorA4R4G4B4>) ? 136 : 128);
        } else {
            EXPECT_EQ(got.a, want.a);
        }
    }
}

template <class S, class... Ds>
void checkFrom()
{
    (checkPair<S, Ds>(), ...);
}

template <class... Ts>
void checkAllPairs()
{
    (checkFrom<Ts, Ts...>(), ...);
}
}

TEST(PixelTypes, EveryPairConvertsExtremesExactlyAndMidValuesWithinOneStep)
{
    checkAllPairs<Color, ColorA1R5G5B5, ColorA4R4G4B4, ColorR5G6B5, Color24, ColorValue24>();
}

TEST(PixelTypes, SixteenBitChannelsWidenToFullBytes)
{
    EXPECT_EQ(toColor(ColorA1R5G5B5(0xFFFF)).argb(), 0xFFFFFFFFu);
    EXPECT_EQ(toColor(ColorA1R5G5B5(0x7C00)).argb(), 0x00FF0000u);
    EXPECT_EQ(toColor(ColorA4R4G4B4(0xF0F0)).argb(), 0xFF00FF00u);
    EXPECT_EQ(toColor(ColorR5G6B5(0xFFFF)).argb(), 0xFFFFFFFFu);
    EXPECT_EQ(toColor(ColorR5G6B5(0x07E0)).argb(), 0xFF00FF00u);
    // Alpha 128 and above set the one-bit alpha, below clears it.
    EXPECT_EQ(fromColor<ColorA1R5G5B5>(Color(0, 0, 0, 128)).value, 0x8000);
    EXPECT_EQ(fromColor<ColorA1R5G5B5>(Color(0, 0, 0, 127)).value, 0x0000);
    EXPECT_EQ(fromColor<ColorR5G6B5>(Color(255, 128, 0, 0)).value, 0xFC00);
    // Float channels clamp to 0..1.
    EXPECT_EQ(toColor(ColorValue24(2.0f, -1.0f, 0.5f)).argb(), 0xFFFF0080u);
}

TEST(ConvertPixel, EveryFormatPairKeepsBlackAndWhite)
{
    const uint32_t formats[] = {20, 21, 22, 23, 24, 25, 26, 30};
    const uint8_t white24[3] = {255, 255, 255};
    const uint8_t black24[3] = {0, 0, 0};
    for (uint32_t s : formats) {
        for (uint32_t d : formats) {
            SCOPED_TRACE(testing::Message() << s << " to " << d);
            const uint32_t white32 = 0xFFFFFFFFu, black32 = 0xFF000000u;
            const uint16_t white16 = 0xFFFF;
            const uint16_t black16 = (s == 26 || s == 30) ? 0xF000 : ((s == 23) ? 0 : 0x8000);
            const void* white = s == 20 ? static_cast<const void*>(white24)
                                : (s == 21 || s == 22) ? static_cast<const void*>(&white32)
                                                       : static_cast<const void*>(&white16);
            const void* black = s == 20 ? static_cast<const void*>(black24)
                                : (s == 21 || s == 22) ? static_cast<const void*>(&black32)
                                                       : static_cast<const void*>(&black16);
            const uint32_t w = convertPixel(white, s, d, 255);
            const uint32_t b = convertPixel(black, s, d, 255);
            // Read the results back as A8R8G8B8.
            const uint32_t w32 = convertPixel(&w, d == 20 ? 21 : d, 21, 255);
            const uint32_t b32 = convertPixel(&b, d == 20 ? 21 : d, 21, 255);
            EXPECT_EQ(w32, 0xFFFFFFFFu);
            EXPECT_EQ(b32, 0xFF000000u);
        }
    }
}

TEST(ConvertPixel, TableCasesAndMendedConversions)
{
    const uint32_t orange = 0x00FF8000u;
    EXPECT_EQ(convertPixel(&orange, 21, 23, 0), 0xFC00u);
    const uint16_t white565 = 0xFFFF;
    EXPECT_EQ(convertPixel(&white565, 23, 21, 255), 0xFFFFFFFFu);
    EXPECT_EQ(convertPixel(&white565, 23, 21, 0x40), 0x40FFFFFFu);
    const uint16_t white1555 = 0xFFFF;
    EXPECT_EQ(convertPixel(&white1555, 25, 21, 0), 0xFFFFFFFFu);
    const uint16_t red1555 = 0x7C00;
    EXPECT_EQ(convertPixel(&red1555, 25, 22, 0), 0x00FF0000u);
    const uint16_t alpha4444 = 0xF000;
    EXPECT_EQ(convertPixel(&alpha4444, 26, 21, 0), 0xFF000000u);
    // R8G8B8 gives its colour with the alpha argument instead of 0.
    const uint8_t rgb[3] = {0x30, 0x20, 0x10}; // blue, green, red
    EXPECT_EQ(convertPixel(rgb, 20, 21, 0x80), 0x80102030u);
    EXPECT_EQ(convertPixel(rgb, 20, 23, 0), uint32_t((0x10 & 0xF8) << 8 | (0x20 & 0xFC) << 3 | 0x30 >> 3));
    // R5G6B5 to A1R5G5B5 takes the top bit of the alpha argument.
    const uint16_t black565 = 0;
    EXPECT_EQ(convertPixel(&black565, 23, 25, 255), 0x8000u);
    EXPECT_EQ(convertPixel(&black565, 23, 25, 1), 0x0000u);
    EXPECT_EQ(convertPixel(&white565, 23, 25, 128), 0xFFFFu);
    // The 32-bit formats pass through whole.
    const uint32_t any = 0x12345678u;
    EXPECT_EQ(convertPixel(&any, 22, 21, 0), any);
    EXPECT_EQ(convertPixel(&any, 21, 99, 0), 0u);
    EXPECT_EQ(convertPixel(&any, 7, 21, 0), 0u);
}

TEST(Surface1d, ResizeKeepsPixelsOfTheSameSizeAndIgnoresBadSizes)
{
    surface1d<Color> s;
    EXPECT_EQ(s.formatCode, 9);
    EXPECT_EQ(s.width, -1);
    EXPECT_EQ(s.maxX, -2);
    ASSERT_TRUE(s.resize(3, 2));
    EXPECT_EQ(s.maxX, 2);
    EXPECT_EQ(s.maxY, 1);
    EXPECT_EQ(s.ownsPixels, 1u);
    s.pixels[5] = Color(1, 2, 3, 4);
    EXPECT_TRUE(s.resize(3, 2));
    EXPECT_EQ(s.pixels[5], Color(1, 2, 3, 4));
    EXPECT_FALSE(s.resize(0, 5));
    EXPECT_FALSE(s.resize(5, -1));
    EXPECT_FALSE(s.resize(surface::maxSide + 1, 1));
    EXPECT_EQ(s.width, 3);
    ASSERT_TRUE(s.resize(2, 2));
    EXPECT_EQ(s.pixels[3], Color());

    Color block[4] = {};
    {
        surface1d<Color> borrowed(2, 2, block);
        EXPECT_EQ(borrowed.ownsPixels, 0u);
        borrowed.pixels[1] = Color(9, 9, 9, 9);
    } // must not free the block
    EXPECT_EQ(block[1], Color(9, 9, 9, 9));

    surface1d<ColorA1R5G5B5> small;
    EXPECT_EQ(small.formatCode, 5);
}

TEST(Surface1d, SamplerClampsOrWrapsAtTheLastColumn)
{
    surface1d<Color> s(2, 1);
    s.pixels[0] = Color(0, 0, 0, 0);
    s.pixels[1] = Color(255, 255, 255, 255);
    s.u = 1.0f - 1.0f / 4.0f;
    s.v = 0.0f;
    EXPECT_EQ(s.sample(), Color(255, 255, 255, 255));
    EXPECT_EQ(s.x0, 1);
    EXPECT_EQ(s.x1, 1);
    s.wrap = 1;
    const Color blended = s.sample();
    EXPECT_EQ(s.x1, 0);
    EXPECT_EQ(blended.r, 128);
    EXPECT_EQ(blended.a, 128);
    EXPECT_EQ(s.sampleValue, blended);
    // Positions outside the image never read outside it.
    s.wrap = 0;
    s.u = 7.5f;
    s.v = -3.0f;
    EXPECT_EQ(s.sample(), Color(255, 255, 255, 255));
    s.u = -2.0f;
    EXPECT_EQ(s.sample(), Color(0, 0, 0, 0));
}

TEST(Surface1d, ResampleTwoByTwoToFourByFourAtQuarterSteps)
{
    // Left column 0, right column 255; top row red, bottom row blue.
    surface1d<Color> s(2, 2);
    s.pixels[0] = Color(0, 0, 0, 255);
    s.pixels[1] = Color(255, 0, 0, 255);
    s.pixels[2] = Color(0, 0, 0, 255);
    s.pixels[3] = Color(255, 0, 255, 255);
    surface1d<Color> target;
    s.resample(4, 4, false, &target);
    ASSERT_EQ(target.width, 4);
    EXPECT_EQ(s.width, 2);
    const uint8_t rowRed[4] = {0, 127, 255, 255};
    const uint8_t columnBlue[4] = {0, 127, 255, 255};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(target.pixels[y * 4 + x].r, rowRed[x]) << x << "," << y;
            if (x == 0) {
                EXPECT_EQ(target.pixels[y * 4 + x].b, 0) << y;
            } else if (x >= 2) {
                EXPECT_EQ(target.pixels[y * 4 + x].b, columnBlue[y]) << x << "," << y;
            }
        }
    // Flipped: row 0 samples the source's last quarter row.
    s.resample(4, 4, true);
    ASSERT_EQ(s.width, 4);
    ASSERT_EQ(s.height, 4);
    EXPECT_EQ(s.ownsPixels, 1u);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(s.pixels[y * 4 + 3].b, columnBlue[3 - y]) << y;
}

TEST(Surface1d, ConvertsFromColorAndFromColumns)
{
    surface1d<Color> c(2, 1);
    c.pixels[0] = Color(255, 0, 0, 255);
    c.pixels[1] = Color(0, 0, 255, 0);
    surface1d<ColorA1R5G5B5> s;
    s.convertFromColor(c);
    ASSERT_EQ(s.width, 2);
    EXPECT_EQ(s.pixels[0].value, 0xFC00);
    EXPECT_EQ(s.pixels[1].value, 0x001F);
    surface1d<Color24> t;
    t.convertFrom(s);
    EXPECT_EQ(t.pixels[0], Color24(255, 0, 0));

    surface2d<Color> columns(3, 2, true);
    columns.columns[2][1] = Color(7, 8, 9, 10);
    surface1d<Color> rows(columns);
    ASSERT_EQ(rows.width, 3);
    ASSERT_EQ(rows.height, 2);
    EXPECT_EQ(rows.pixels[1 * 3 + 2], Color(7, 8, 9, 10));
}

TEST(Surface2d, ResizeFillFreeAndTheUnallocatedForm)
{
    surface2d<Color> s(4, 3, true);
    ASSERT_NE(s.columns, nullptr);
    s.fill(Color(1, 2, 3, 4));
    EXPECT_EQ(s.columns[3][2], Color(1, 2, 3, 4));
    EXPECT_TRUE(s.resize(4, 3));
    EXPECT_EQ(s.columns[0][0], Color(1, 2, 3, 4));
    s.free();
    EXPECT_EQ(s.columns, nullptr);
    EXPECT_EQ(s.width, -1);
    s.fill(Color()); // no columns: nothing to do

    surface2d<Color> sized(5, 6, false);
    EXPECT_EQ(sized.width, 5);
    EXPECT_EQ(sized.columns, nullptr);
    // The same size still makes the columns the first time.
    ASSERT_TRUE(sized.resize(5, 6));
    EXPECT_NE(sized.columns, nullptr);
    EXPECT_FALSE(sized.resize(0, 6));
}
