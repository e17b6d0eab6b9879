#include "Core/ByteReader.h"
#include "Core/File.h"
#include "Core/FileArray.h"
#include "Core/ImageData.h"
#include "Core/String.h"

#include "ImageTestFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <random>

using namespace ImageTestFiles;

namespace
{
std::span<const uint8_t> span(const Bytes& b)
{
    return std::span<const uint8_t>(b.data(), b.size());
}

// The record's raw pixels against the pattern: rows bottom first.
void expectPattern(const ImageData& img, int w, int h, int format)
{
    ASSERT_NE(img.pixels, nullptr);
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    ASSERT_EQ(img.formatCode, format);
    const int bytes = ImageData::bytesPerPixel(format);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = img.pixels + size_t(h - 1 - y) * w * bytes;
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = row + x * bytes;
            const Color c = patternColor(x, y);
            SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
            switch (format) {
            case ImageData::FormatPalette:
                ASSERT_EQ(p[0], patternIndex(x, y));
                break;
            case ImageData::FormatR5G6B5:
                ASSERT_EQ(uint16_t(p[0] | p[1] << 8), pattern565(x, y));
                break;
            case ImageData::FormatColor24:
                ASSERT_EQ(Color(p[2], p[1], p[0], 255), Color(c.r, c.g, c.b, 255));
                break;
            default:
                ASSERT_EQ(Color(p[2], p[1], p[0], p[3]), c);
                break;
            }
        }
    }
}

// What copyToRect makes of the pattern image: top row first, opaque unless 32-bit.
Color expectedRectPixel(int format, int x, int y)
{
    switch (format) {
    case ImageData::FormatPalette: {
        return paletteColor(patternIndex(x, y));
    }
    case ImageData::FormatR5G6B5:
        return toColor(ColorR5G6B5(pattern565(x, y)));
    case ImageData::FormatColor24: {
        const Color c = patternColor(x, y);
        return Color(c.r, c.g, c.b, 255);
    }
    default:
        return patternColor(x, y);
    }
}

void expectRect(const ImageData& img, int w, int h)
{
    surface1d<Color> rect;
    ASSERT_TRUE(img.copyToRect(rect, 0, 0, false));
    ASSERT_EQ(rect.width, w);
    ASSERT_EQ(rect.height, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(rect.pixels[y * w + x], expectedRectPixel(img.formatCode, x, y)) << x << "," << y;
}

void decodeAndCheck(const Bytes& file, ImageData::Type type, int w, int h, int format)
{
    ImageData img;
    ASSERT_TRUE(img.decode(span(file), type));
    expectPattern(img, w, h, format);
    expectRect(img, w, h);
}
}

TEST(BmpDecoder, EightAndTwentyFourBitWithAndWithoutFileHeader)
{
    // Widths 3, 5 and 70 give rows with 3, 1 and 2 padding bytes (24-bit) or 1, 3, 2 (8-bit).
    for (int w : {3, 5, 70}) {
        SCOPED_TRACE(w);
        decodeAndCheck(writeBmp(w, 4, 24), ImageData::TypeBmp, w, 4, ImageData::FormatColor24);
        decodeAndCheck(writeBmp(w, 4, 8), ImageData::TypeBmp, w, 4, ImageData::FormatPalette);
        decodeAndCheck(writeBmp(w, 4, 24, false), ImageData::TypeBitmapResource, w, 4, ImageData::FormatColor24);
        decodeAndCheck(writeBmp(w, 4, 8, false), ImageData::TypeBitmapResource, w, 4, ImageData::FormatPalette);
        // A negative height marks a top-down file; it decodes to the same image.
        decodeAndCheck(writeBmp(w, 4, 24, true, true), ImageData::TypeBmp, w, 4, ImageData::FormatColor24);
    }
    const Bytes three = writeBmp(3, 2, 24);
    EXPECT_EQ(three.size(), 14u + 40u + 2u * 12u);
}

TEST(BmpDecoder, RefusesWrongMarksDepthsAndSizes)
{
    ImageData img;
    Bytes b = writeBmp(4, 4, 24);
    b[0] = 'X';
    EXPECT_FALSE(img.decode(span(b), ImageData::TypeBmp));
    EXPECT_EQ(img.pixels, nullptr);

    struct Case
    {
        size_t at;
        uint32_t value;
        int size; // bytes written
    };
    // Offsets within the 40-byte header after the 14-byte file header.
    const Case cases[] = {
        {14 + 14, 4, 2},           // 4-bit
        {14 + 14, 16, 2},          // 16-bit: pixels would not match their format
        {14 + 14, 32, 2},          // 32-bit
        {14 + 16, 1, 4},           // run-length compressed
        {14 + 4, 0x7FFFFFFF, 4},   // huge width
        {14 + 8, 0x80000000, 4},   // height INT32_MIN
        {14 + 8, 0xFFFF0000, 4},   // huge top-down height
        {14 + 8, 5000, 4},         // more rows than the file holds
        {14 + 4, 0, 4},            // no width
        {10, 0xFFFFFFF0, 4},       // pixel offset past the end
        {14, 12, 4},               // an older, smaller header
    };
    for (const Case& c : cases) {
        Bytes m = writeBmp(4, 4, 24);
        for (int i = 0; i < c.size; ++i)
            m[c.at + i] = uint8_t(c.value >> (8 * i));
        EXPECT_FALSE(img.decode(span(m), ImageData::TypeBmp)) << c.at << " " << c.value;
        EXPECT_EQ(img.pixels, nullptr);
    }
    // A palette with fewer entries: the pixels follow it directly.
    Bytes small = writeBmp(4, 2, 8, false);
    set32(small, 32, 200);
    small.erase(small.begin() + 40 + 800, small.begin() + 40 + 1024);
    ASSERT_TRUE(img.decode(span(small), ImageData::TypeBitmapResource));
    expectPattern(img, 4, 2, ImageData::FormatPalette);
    EXPECT_EQ(img.palette[199 * 4], paletteColor(199).b);
    EXPECT_EQ(img.palette[200 * 4 + 1], 0);
    // Truncated inside the last row.
    Bytes cut = writeBmp(4, 4, 24);
    cut.resize(cut.size() - 5);
    EXPECT_FALSE(img.decode(span(cut), ImageData::TypeBmp));
}

TEST(PcxDecoder, RunLengthEightAndTwentyFourBit)
{
    for (int w : {5, 70}) {
        SCOPED_TRACE(w);
        decodeAndCheck(writePcx(w, 4, 1), ImageData::TypePcx, w, 4, ImageData::FormatPalette);
        decodeAndCheck(writePcx(w, 4, 3), ImageData::TypePcx, w, 4, ImageData::FormatColor24);
        // Runs that carry on past the end of a line continue in the next one.
        decodeAndCheck(writePcx(w, 4, 1, true), ImageData::TypePcx, w, 4, ImageData::FormatPalette);
        decodeAndCheck(writePcx(w, 4, 3, true), ImageData::TypePcx, w, 4, ImageData::FormatColor24);
    }
}

TEST(PcxDecoder, RunByteC3WritesThreeBytesAndBadFilesFail)
{
    Bytes b(128, 0);
    b[0] = 10;
    b[3] = 8;
    b[8] = 2; // 3 x 1
    b[65] = 1;
    b[66] = 4; // line of 4 bytes: one byte of padding
    b.insert(b.end(), {0xC3, 0x07, 0x01});
    ImageData img;
    ASSERT_TRUE(img.decode(span(b), ImageData::TypePcx));
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(img.height, 1);
    EXPECT_EQ(img.palette, nullptr); // version 0: no palette
    EXPECT_EQ(0, std::memcmp(img.pixels, "\x07\x07\x07", 3));
    surface1d<Color> rect;
    EXPECT_FALSE(img.copyToRect(rect, 0, 0, false));

    // A run past the end of the data, a line longer than its plane, two planes,
    // another manufacturer, a negative width.
    Bytes runOut = b;
    runOut.resize(128);
    runOut.insert(runOut.end(), {0xC2, 0x07, 0xC5});
    EXPECT_FALSE(img.decode(span(runOut), ImageData::TypePcx));
    Bytes narrow = b;
    narrow[66] = 2;
    EXPECT_FALSE(img.decode(span(narrow), ImageData::TypePcx));
    Bytes twoPlanes = b;
    twoPlanes[65] = 2;
    EXPECT_FALSE(img.decode(span(twoPlanes), ImageData::TypePcx));
    Bytes maker = b;
    maker[0] = 11;
    EXPECT_FALSE(img.decode(span(maker), ImageData::TypePcx));
    Bytes negative = b;
    negative[8] = 0xFE;
    negative[9] = 0xFF;
    EXPECT_FALSE(img.decode(span(negative), ImageData::TypePcx));
    // 32767 x 32767 claimed by a file of a few bytes: refused before allocating.
    Bytes huge = b;
    huge[8] = 0xFE;
    huge[9] = 0x7F;
    huge[10] = 0xFE;
    huge[11] = 0x7F;
    huge[66] = 0xFE;
    huge[67] = 0xFF;
    EXPECT_FALSE(img.decode(span(huge), ImageData::TypePcx));
    EXPECT_EQ(img.pixels, nullptr);
}

TEST(TgaDecoder, TypesTwoAndTenWithTwentyFourAndThirtyTwoBits)
{
    for (int type : {2, 10})
        for (int bits : {24, 32})
            for (bool topFirst : {false, true}) {
                SCOPED_TRACE(testing::Message() << "type " << type << " bits " << bits << " top " << topFirst);
                const int format = bits == 24 ? ImageData::FormatColor24 : ImageData::FormatColor;
                decodeAndCheck(writeTga(70, 4, bits, type, topFirst), ImageData::TypeTga, 70, 4, format);
                decodeAndCheck(writeTga(3, 5, bits, type, topFirst), ImageData::TypeTga, 3, 5, format);
            }
}

TEST(TgaDecoder, RunsPastTheImageAreCutAndBadFilesFail)
{
    // 2 x 2 of 24 bits: one run packet of 128 pixels.
    Bytes b(18, 0);
    b[2] = 10;
    b[12] = 2;
    b[14] = 2;
    b[16] = 24;
    b.insert(b.end(), {0xFF, 1, 2, 3});
    ImageData img;
    ASSERT_TRUE(img.decode(span(b), ImageData::TypeTga));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0, std::memcmp(img.pixels + i * 3, "\x01\x02\x03", 3));
    // A raw packet longer than the image takes only what fits.
    Bytes raw = b;
    raw.resize(18);
    raw.push_back(0x7F);
    for (int i = 0; i < 12; ++i)
        raw.push_back(uint8_t(i));
    ASSERT_TRUE(img.decode(span(raw), ImageData::TypeTga));
    EXPECT_EQ(img.pixels[11], 11);

    Bytes truncated = writeTga(70, 4, 32, 10);
    truncated.resize(truncated.size() - 3);
    EXPECT_FALSE(img.decode(span(truncated), ImageData::TypeTga));
    Bytes shortRows = writeTga(70, 4, 24, 2);
    shortRows.pop_back();
    EXPECT_FALSE(img.decode(span(shortRows), ImageData::TypeTga));
    for (int type : {1, 3, 9, 11}) {
        Bytes other = writeTga(4, 4, 24, 2);
        other[2] = uint8_t(type);
        EXPECT_FALSE(img.decode(span(other), ImageData::TypeTga)) << type;
        EXPECT_EQ(img.pixels, nullptr);
    }
    Bytes sixteen = writeTga(4, 4, 24, 2);
    sixteen[16] = 16;
    EXPECT_FALSE(img.decode(span(sixteen), ImageData::TypeTga));
    // 65535 x 65535 from a few bytes.
    Bytes huge = b;
    huge[12] = huge[13] = huge[14] = huge[15] = 0xFF;
    EXPECT_FALSE(img.decode(span(huge), ImageData::TypeTga));
    // A colour map ahead of true-colour pixels is skipped.
    Bytes mapped = writeTga(3, 2, 24, 2);
    mapped[1] = 1;
    mapped[5] = 2; // two entries of 24 bits
    mapped[7] = 24;
    mapped.insert(mapped.begin() + 21, 6, uint8_t(0xEE));
    ASSERT_TRUE(img.decode(span(mapped), ImageData::TypeTga));
    expectPattern(img, 3, 2, ImageData::FormatColor24);
}

TEST(TiffDecoder, StripsOfSixteenAndTwentyFourBits)
{
    for (int rowsPerStrip : {1, 2, 3, 5}) {
        SCOPED_TRACE(rowsPerStrip);
        decodeAndCheck(writeTiff(7, 5, 24, rowsPerStrip), ImageData::TypeTiff, 7, 5, ImageData::FormatColor24);
        decodeAndCheck(writeTiff(7, 5, 24, rowsPerStrip, true), ImageData::TypeTiff, 7, 5,
                       ImageData::FormatColor24);
        decodeAndCheck(writeTiff(7, 5, 16, rowsPerStrip), ImageData::TypeTiff, 7, 5, ImageData::FormatR5G6B5);
    }
}

TEST(TiffDecoder, BadFilesFail)
{
    ImageData img;
    const Bytes good = writeTiff(4, 4, 24, 2);
    ASSERT_TRUE(img.decode(span(good), ImageData::TypeTiff));
    // Entry k of the directory starts at 10 + 12 k; its value field at +8.
    auto withValue = [&](int entry, uint32_t value) {
        Bytes b = good;
        set32(b, 10 + 12 * entry + 8, value);
        return b;
    };
    const uint32_t offsetsAt = ByteReader::le32(good.data() + 10 + 12 * 5 + 8);
    Bytes pastEnd = good;
    set32(pastEnd, offsetsAt + 4, uint32_t(good.size() - 10)); // second strip runs past the end
    EXPECT_FALSE(img.decode(span(pastEnd), ImageData::TypeTiff));
    EXPECT_EQ(img.pixels, nullptr);
    EXPECT_FALSE(img.decode(span(withValue(5, 0xFFFFFFF0)), ImageData::TypeTiff)); // strip array outside
    EXPECT_FALSE(img.decode(span(withValue(3, 5)), ImageData::TypeTiff));          // compressed
    EXPECT_FALSE(img.decode(span(withValue(2, 8)), ImageData::TypeTiff));          // 8 bits
    EXPECT_FALSE(img.decode(span(withValue(0, 16000)), ImageData::TypeTiff));      // wider than the data
    EXPECT_FALSE(img.decode(span(withValue(1, 0)), ImageData::TypeTiff));          // no rows
    Bytes motorola = good;
    motorola[0] = motorola[1] = 'M';
    EXPECT_FALSE(img.decode(span(motorola), ImageData::TypeTiff));
    Bytes directoryOut = good;
    set32(directoryOut, 4, 0x7FFFFFFF);
    EXPECT_FALSE(img.decode(span(directoryOut), ImageData::TypeTiff));
    Bytes manyEntries = good;
    manyEntries[8] = manyEntries[9] = 0xFF;
    EXPECT_FALSE(img.decode(span(manyEntries), ImageData::TypeTiff));
}

TEST(ImageData, ExtensionsPickTheDecoderExactly)
{
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"bmp"), ImageData::TypeBmp);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"dib"), ImageData::TypeBmp);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"res_dib"), ImageData::TypeBitmapResource);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"pcx"), ImageData::TypePcx);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"tga"), ImageData::TypeTga);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"tif"), ImageData::TypeTiff);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"tiff"), ImageData::TypeTiff);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"TIF"), ImageData::TypeNone);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"jpeg"), ImageData::TypeJpeg);
    EXPECT_EQ(ImageData::imageTypeFromExtension(L"png"), ImageData::TypeNone);
    EXPECT_EQ(ImageData::imageTypeFromExtension(nullptr), ImageData::TypeNone);
    EXPECT_EQ(ImageData::bytesPerPixel(11), 12);
    EXPECT_EQ(ImageData::bytesPerPixel(10), 0);
}

TEST(ImageData, DecodesStreamsFromTheirPosition)
{
    const Bytes tga = writeTga(5, 3, 32, 10);
    FileArray stream(64);
    stream.write("junk", 4);
    stream.write(tga.data(), uint32_t(tga.size()));
    stream.seek(4, 0);
    ImageData img;
    img.decode(stream, String(L"tga"));
    expectPattern(img, 5, 3, ImageData::FormatColor);
    stream.seek(4, 0);
    img.decode(stream, String(L"TGA"));
    EXPECT_EQ(img.pixels, nullptr);
    stream.seek(4, 0);
    img.decode(stream, String(L"jpg"));
    EXPECT_EQ(img.pixels, nullptr);
}

TEST(ImageData, DecodesDiskFiles)
{
    const Bytes bmp = writeBmp(6, 2, 8);
    wchar_t folder[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    const String path = String(folder) + L"korvanta_image_test.bmp";
    {
        File out(path, 1, 1, 0);
        ASSERT_TRUE(out.isOpen);
        ASSERT_EQ(out.write(bmp.data(), uint32_t(bmp.size())), bmp.size());
        out.close();
    }
    FileInterface* in = openFile(path, 0, 1, 1);
    ASSERT_NE(in, nullptr);
    ASSERT_TRUE(in->isOpen);
    ImageData img;
    img.decode(*in, String(L"bmp"));
    in->close();
    DeleteFileW(path.text());
    expectPattern(img, 6, 2, ImageData::FormatPalette);
    expectRect(img, 6, 2);
}

TEST(ImageData, CopyToRectSizesKeysAndFromSurface)
{
    EXPECT_EQ(nextPowerOfTwo(1), 2);
    EXPECT_EQ(nextPowerOfTwo(2), 2);
    EXPECT_EQ(nextPowerOfTwo(3), 4);
    EXPECT_EQ(nextPowerOfTwo(64), 64);
    EXPECT_EQ(nextPowerOfTwo(65), 128);
    EXPECT_EQ(nextPowerOfTwo(0), 2);

    ImageData img;
    ASSERT_TRUE(img.decode(span(writeBmp(100, 50, 24)), ImageData::TypeBmp));
    surface1d<Color> rect;
    ASSERT_TRUE(img.copyToRect(rect, 64, 64, true));
    EXPECT_EQ(rect.width, 64);
    EXPECT_EQ(rect.height, 64);
    ASSERT_TRUE(img.copyToRect(rect, 0, 0, true));
    EXPECT_EQ(rect.width, 128);
    EXPECT_EQ(rect.height, 64);
    ASSERT_TRUE(img.copyToRect(rect, 40, 0, false)); // one limit alone does not count
    EXPECT_EQ(rect.width, 100);

    // The flat pattern colour (200, 10, C5h) within tolerance 2 becomes transparent.
    ImageData::ColorKey key{0xC4, 11, 201, 2};
    ASSERT_TRUE(img.copyToRect(rect, 0, 0, false, &key));
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(rect.pixels[y * 100 + x].a, flatAt(x, y) ? 0 : 255) << x << "," << y;
    key.tolerance = 0;
    ASSERT_TRUE(img.copyToRect(rect, 0, 0, false, &key));
    EXPECT_EQ(rect.pixels[100].a, 255);

    surface2d<Color> painted(3, 2, true);
    painted.columns[2][1] = Color(1, 2, 3, 4);
    img.fromSurface2d(painted);
    EXPECT_EQ(img.formatCode, 9);
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(0, std::memcmp(img.pixels + (1 * 3 + 2) * 4, "\x03\x02\x01\x04", 4));
    img.release();
    EXPECT_FALSE(img.copyToRect(rect, 0, 0, false));
}

TEST(ImageData, LoadsModuleResources)
{
    ImageData img;
    img.load(4201);
    expectPattern(img, 5, 3, ImageData::FormatColor24);
    expectRect(img, 5, 3);
    img.load(4202, L"pcx");
    expectPattern(img, 6, 3, ImageData::FormatPalette);
    expectRect(img, 6, 3);
    img.load(4203, L"tga");
    expectPattern(img, 4, 3, ImageData::FormatColor);
    img.load(4203, L"pcx"); // a TGA is no PCX
    EXPECT_EQ(img.pixels, nullptr);
    img.load(4299);
    EXPECT_EQ(img.pixels, nullptr);
    img.load(0);
    EXPECT_EQ(img.pixels, nullptr);
}
