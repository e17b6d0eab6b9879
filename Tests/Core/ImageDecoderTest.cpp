#include "Core/FileArray.h"
#include "Core/ImageData.h"
#include "Core/String.h"

#include "ImageTestFiles.h"

#include <psapi.h>

#include <gtest/gtest.h>

using namespace ImageTestFiles;

namespace
{
std::span<const uint8_t> span(const Bytes& b) { return std::span<const uint8_t>(b.data(), b.size()); }

// The record (rows bottom first) and its copyToRect copy against the pattern, pixel by pixel.
void expectPattern(const ImageData& img, int w, int h, int format)
{
    ASSERT_NE(img.pixels, nullptr);
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    ASSERT_EQ(img.formatCode, format);
    surface1d<Color> rect;
    ASSERT_TRUE(img.copyToRect(rect, 0, 0, false));
    const int bytes = ImageData::bytesPerPixel(format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = img.pixels + (size_t(h - 1 - y) * w + x) * bytes;
            Color want = patternColor(x, y);
            want.a = format == ImageData::FormatColor ? want.a : 255;
            if (format == ImageData::FormatPalette) {
                ASSERT_EQ(p[0], patternIndex(x, y)) << x << "," << y;
                want = paletteColor(patternIndex(x, y));
            } else if (format == ImageData::FormatR5G6B5) {
                ASSERT_EQ(p[0] | p[1] << 8, pattern565(x, y)) << x << "," << y;
                want = toColor(ColorR5G6B5(pattern565(x, y)));
            } else {
                ASSERT_EQ(Color(p[2], p[1], p[0], bytes == 4 ? p[3] : 255), want) << x << "," << y;
            }
            ASSERT_EQ(rect.pixels[y * w + x], want) << x << "," << y;
        }
}

void decodeAndCheck(const Bytes& file, ImageData::Type type, int w, int h, int format)
{
    ImageData img;
    ASSERT_TRUE(img.decode(span(file), type));
    expectPattern(img, w, h, format);
}

// Every decoded copy must be a consistent image no larger than its file could carry.
void fuzzDecoder(ImageData::Type type, const std::vector<Bytes>& seeds, uint32_t seed)
{
    SCOPED_TRACE(testing::Message() << "type " << type);
    const int decoded = fuzz(seeds, seed, 3000, [&](std::span<const uint8_t> data) {
        ImageData img;
        if (!img.decode(data, type)) {
            EXPECT_EQ(img.pixels, nullptr);
            return false;
        }
        const int f = img.formatCode;
        EXPECT_TRUE(f == ImageData::FormatPalette || f == ImageData::FormatR5G6B5 || f == ImageData::FormatColor24 ||
                    f == ImageData::FormatColor);
        EXPECT_TRUE(img.width >= 1 && img.height >= 1);
        EXPECT_LE(int64_t(img.width) * img.height, int64_t(data.size()) * 128);
        surface1d<Color> rect;
        EXPECT_EQ(img.copyToRect(rect, 64, 64, true), f != ImageData::FormatPalette || img.palette);
        return true;
    });
    // Enough copies must survive to reach the pixel code, not just the header checks.
    EXPECT_GT(decoded, 150);
}

Bytes cut(Bytes b, size_t n)
{
    b.resize(b.size() - n);
    return b;
}
}

TEST(ImageDecoders, BmpEightAndTwentyFourBitsBottomUpOrTopDown)
{
    for (int w : {3, 5}) { // rows with 3 and 1 (24-bit) or 1 and 3 (8-bit) padding bytes
        SCOPED_TRACE(w);
        for (bool header : {true, false}) {
            const ImageData::Type type = header ? ImageData::TypeBmp : ImageData::TypeBitmapResource;
            decodeAndCheck(writeBmp(w, 4, 24, header), type, w, 4, ImageData::FormatColor24);
            decodeAndCheck(writeBmp(w, 4, 8, header), type, w, 4, ImageData::FormatPalette);
        }
        decodeAndCheck(writeBmp(w, 4, 24, true, true), ImageData::TypeBmp, w, 4, ImageData::FormatColor24);
    }
}

TEST(ImageDecoders, PcxRunLengthEightAndTwentyFourBits)
{
    for (int w : {1, 5, 70})
        for (bool acrossLines : {false, true}) { // runs carrying on past a line end continue in the next
            SCOPED_TRACE(testing::Message() << w << " across " << acrossLines);
            decodeAndCheck(writePcx(w, 4, 1, acrossLines), ImageData::TypePcx, w, 4, ImageData::FormatPalette);
            decodeAndCheck(writePcx(w, 4, 3, acrossLines), ImageData::TypePcx, w, 4, ImageData::FormatColor24);
        }
}

TEST(ImageDecoders, TgaTypesTwoAndTenWithTwentyFourAndThirtyTwoBits)
{
    for (int type : {2, 10})
        for (int bits : {24, 32})
            for (bool topFirst : {false, true}) {
                SCOPED_TRACE(testing::Message() << "type " << type << " bits " << bits << " top " << topFirst);
                const int format = bits == 24 ? ImageData::FormatColor24 : ImageData::FormatColor;
                decodeAndCheck(writeTga(70, 4, bits, type, topFirst), ImageData::TypeTga, 70, 4, format);
                decodeAndCheck(writeTga(3, 5, bits, type, topFirst), ImageData::TypeTga, 3, 5, format);
            }
    // Packets longer than the image take only what fits: one run of 128, a raw packet of 4 pixels.
    Bytes run = writeTga(2, 2, 24, 10);
    run.resize(21);
    run.insert(run.end(), {0xFF, 1, 2, 3});
    ImageData img;
    ASSERT_TRUE(img.decode(span(run), ImageData::TypeTga));
    EXPECT_EQ(0, std::memcmp(img.pixels + 9, "\x01\x02\x03", 3));
    run.resize(21);
    run.insert(run.end(), {0x7F, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    ASSERT_TRUE(img.decode(span(run), ImageData::TypeTga));
    EXPECT_EQ(img.pixels[11], 11);
}

TEST(ImageDecoders, TiffStripsOfSixteenAndTwentyFourBits)
{
    // Five rows in 5, 3, 2 or 1 strips: two or three LONG offsets lie outside the entry.
    for (int rowsPerStrip : {1, 2, 3, 5}) {
        SCOPED_TRACE(rowsPerStrip);
        decodeAndCheck(writeTiff(7, 5, 24, rowsPerStrip), ImageData::TypeTiff, 7, 5, ImageData::FormatColor24);
        decodeAndCheck(writeTiff(7, 5, 24, rowsPerStrip, true), ImageData::TypeTiff, 7, 5, ImageData::FormatColor24);
        decodeAndCheck(writeTiff(7, 5, 16, rowsPerStrip), ImageData::TypeTiff, 7, 5, ImageData::FormatR5G6B5);
    }
}

TEST(ImageDecoders, BadFilesFailCleanly)
{
    constexpr auto Bmp = ImageData::TypeBmp, Pcx = ImageData::TypePcx;
    constexpr auto Tga = ImageData::TypeTga, Tiff = ImageData::TypeTiff;
    const Bytes bmp = writeBmp(4, 4, 24), pcx = writePcx(5, 2, 1), tga = writeTga(70, 4, 32, 10);
    const Bytes tiff = writeTiff(4, 4, 24, 2);
    auto tiffEntry = [&](int k, uint32_t v) { return patched(tiff, 10 + 12 * k + 8, v); };
    const uint32_t stripOffsets = tiff[10 + 12 * 5 + 8] | tiff[10 + 12 * 5 + 9] << 8;
    const struct
    {
        ImageData::Type type;
        Bytes file;
        const char* what;
    } cases[] = {
        {Bmp, patched(bmp, 0, 'X', 1), "mark"},
        {Bmp, patched(bmp, 18, 0x7FFFFFFF), "huge width"},
        {Bmp, patched(bmp, 22, 0x80000000), "height INT32_MIN"},
        {Bmp, patched(bmp, 22, 5000), "more rows than the file"},
        {Bmp, patched(bmp, 10, 0xFFFFFFF0), "pixels past the end"},
        {Bmp, cut(bmp, 5), "cut in the last row"},
        {Pcx, cut(writePcx(70, 4, 3), 1), "data cut"},
        {Pcx, patched(pcx, 66, 2, 2), "line shorter than the width"},
        {Pcx, patched(pcx, 8, 0, 2), "negative width"},
        {Pcx, patched(patched(patched(pcx, 4, 0), 8, 0x7FFE7FFE), 66, 0xFFFE, 2), "32767 x 32767"},
        {Tga, cut(tga, 3), "run-length data cut"},
        {Tga, cut(writeTga(70, 4, 24, 2), 1), "raw rows cut"},
        {Tga, patched(tga, 16, 16, 1), "16 bits"},
        {Tga, patched(tga, 12, 0xFFFFFFFF), "65535 x 65535"},
        {Tiff, patched(tiff, stripOffsets + 4, uint32_t(tiff.size() - 10)), "strip past the end"},
        {Tiff, tiffEntry(5, 0xFFFFFFF0), "strip table outside"},
        {Tiff, tiffEntry(0, 16000), "wider than the data"},
        {Tiff, patched(tiff, 4, 0x7FFFFFFF), "directory outside"},
        {Tiff, patched(tiff, 8, 0xFFFF, 2), "entries past the end"},
    };
    ImageData img;
    for (const auto& c : cases) {
        ASSERT_TRUE(img.decode(span(bmp), ImageData::TypeBmp));
        EXPECT_FALSE(img.decode(span(c.file), c.type)) << c.what;
        EXPECT_EQ(img.pixels, nullptr) << c.what;
    }
    // Run-length data cut anywhere, in a count or between runs, never decodes.
    const Bytes runs = writePcx(70, 4, 3);
    for (size_t n = 1; n < runs.size() - 128; ++n)
        EXPECT_FALSE(img.decode(span(cut(runs, n)), Pcx)) << "PCX cut by " << n;
}

// A run-length image above the pixel limit is refused before its pixels are
// expanded: 16384 x 8192 from 4 MB of packets must not take 400 MB first.
TEST(ImageDecoders, TgaAboveThePixelLimitIsRefusedBeforeAllocating)
{
    const uint32_t width = 16384, height = 8192, packets = width * height / 128;
    Bytes file(18, 0);
    file[2] = 10;
    file = patched(patched(file, 12, width, 2), 14, height, 2);
    file[16] = 24;
    for (uint32_t i = 0; i < packets; ++i)
        file.insert(file.end(), {0xFF, 1, 2, 3});
    PROCESS_MEMORY_COUNTERS before{}, after{};
    before.cb = after.cb = sizeof(PROCESS_MEMORY_COUNTERS);
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before)));
    ImageData img;
    EXPECT_FALSE(img.decode(span(file), ImageData::TypeTga));
    ASSERT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after)));
    EXPECT_LT(after.PeakWorkingSetSize, before.PeakWorkingSetSize + 64 * 1024 * 1024);
}

TEST(ImageDecoders, StreamsAndModuleResources)
{
    const Bytes tga = writeTga(5, 3, 32, 10);
    FileArray stream(64);
    stream.write("junk", 4);
    stream.write(tga.data(), uint32_t(tga.size()));
    ImageData img;
    stream.seek(4, 0);
    img.decode(stream, String(L"tga"));
    expectPattern(img, 5, 3, ImageData::FormatColor);
    stream.seek(4, 0);
    img.decode(stream, String(L"TGA")); // extensions compare exactly
    EXPECT_EQ(img.pixels, nullptr);

    // A record holding borrowed pixels lets go of them and owns what it loads.
    std::vector<uint8_t> borrowed(16, 7);
    img.pixels = borrowed.data();
    img.ownsPixels = 0;
    img.load(4201); // a bitmap resource, BMP without file header
    expectPattern(img, 5, 5, ImageData::FormatColor24);
    EXPECT_EQ(img.ownsPixels, 1u);
    EXPECT_EQ(borrowed, std::vector<uint8_t>(16, 7));
    img.load(4203, L"tga");
    expectPattern(img, 4, 5, ImageData::FormatColor);
    img.load(4203, L"pcx");
    EXPECT_EQ(img.pixels, nullptr);
    img.load(4299);
    EXPECT_EQ(img.pixels, nullptr);
}

TEST(ImageDecoders, CopyToRectSizesAndColourKey)
{
    ImageData img;
    ASSERT_TRUE(img.decode(span(writeBmp(100, 50, 24)), ImageData::TypeBmp));
    surface1d<Color> rect;
    ASSERT_TRUE(img.copyToRect(rect, 0, 0, true));
    EXPECT_EQ(std::pair(rect.width, rect.height), std::pair(128, 64));
    ASSERT_TRUE(img.copyToRect(rect, 64, 64, true));
    EXPECT_EQ(std::pair(rect.width, rect.height), std::pair(64, 64));
    ImageData dot;
    ASSERT_TRUE(dot.decode(span(writeBmp(1, 1, 24)), ImageData::TypeBmp));
    ASSERT_TRUE(dot.copyToRect(rect, 0, 0, true));
    EXPECT_EQ(std::pair(rect.width, rect.height), std::pair(2, 2)); // powers of two from 2 up
    // Within tolerance 2 of the flat pattern colour C5h C5h C5h: transparent.
    const ImageData::ColorKey key{0xC3, 0xC6, 0xC7, 2};
    ASSERT_TRUE(img.copyToRect(rect, 0, 0, false, &key));
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(rect.pixels[y * 100 + x].a, flatAt(x, y) ? 0 : 255) << x << "," << y;

    surface2d<Color> painted(3, 2, true);
    painted.columns[2][1] = Color(1, 2, 3, 4);
    img.fromSurface2d(painted);
    ASSERT_EQ(img.formatCode, ImageData::FormatColor);
    EXPECT_EQ(0, std::memcmp(img.pixels + (1 * 3 + 2) * 4, "\x03\x02\x01\x04", 4));
}

TEST(ImageDecoders, EveryDecoderSurvivesMutatedFiles)
{
    fuzzDecoder(ImageData::TypeBmp, {writeBmp(5, 4, 24), writeBmp(6, 3, 8), writeBmp(3, 3, 24, true, true)}, 101);
    fuzzDecoder(ImageData::TypeBitmapResource, {writeBmp(5, 4, 24, false), writeBmp(6, 3, 8, false)}, 102);
    fuzzDecoder(ImageData::TypePcx, {writePcx(9, 4, 1), writePcx(9, 4, 3), writePcx(70, 2, 1, true)}, 201);
    fuzzDecoder(ImageData::TypeTga, {writeTga(6, 4, 24, 2), writeTga(6, 4, 32, 10), writeTga(70, 3, 24, 10, true)},
                301);
    fuzzDecoder(ImageData::TypeTiff, {writeTiff(5, 4, 24, 1), writeTiff(5, 4, 16, 4), writeTiff(4, 5, 24, 2, true)},
                401);
}
