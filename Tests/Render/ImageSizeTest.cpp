// The size an image file's header gives, read before the image is decoded:
// whenever the check sizes a file, the decoder's own reading of it (D3DX's
// image information) finds the same size; a JPEG whose segments before the
// frame do not follow one another cleanly is not sized, whatever the
// decoder would find behind the stray bytes (rows that show it decode).
#include "../Landscape/LandscapeTestFiles.h"
#include "ImageFileWriter.h"

#include "Render/TextureDevice.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using LandscapeTestFiles::blankJpeg;
using LandscapeTestFiles::hiddenFrameJpeg;

// blankJpeg(64, 48) with bytes put in after its start (before its first
// segment) or in place of its tables' segment marker.
std::vector<uint8_t> jpegWith(const std::vector<uint8_t>& before)
{
    std::vector<uint8_t> jpeg = blankJpeg(64, 48);
    jpeg.insert(jpeg.begin() + 2, before.begin(), before.end());
    return jpeg;
}

TEST(ImageSize, WhatTheCheckSizesTheDecoderFindsTheSame)
{
    ImageFileWriter::Image image;
    image.width = 20;
    image.height = 12;
    image.argb.assign(20 * 12, 0xFF336699u);
    std::vector<uint8_t> scanFirst = blankJpeg(64, 48);
    const std::vector<uint8_t> scan = {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0};
    scanFirst.insert(scanFirst.begin() + 2, scan.begin(), scan.end());
    std::vector<uint8_t> cut = blankJpeg(64, 48);
    cut.resize(2 + 69 + 8); // inside the frame's header, before its width
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
        bool sized;
        uint32_t width, height; // sized: the size; else what the decoder finds (0: not asked)
    } cases[] = {
        {"a JPEG", blankJpeg(40, 24), true, 40, 24},
        {"a JPEG of 4096 x 2688", blankJpeg(4096, 2688), true, 4096, 2688},
        {"application data and a comment first",
         jpegWith({0xFF, 0xE0, 0, 4, 'J', 'F', 0xFF, 0xEF, 0, 2, 0xFF, 0xFE, 0, 5, 'a', 'b', 'c'}), true, 64, 48},
        {"fill bytes before a marker", jpegWith({0xFF, 0xFF, 0xFF, 0xFE, 0, 2}), true, 64, 48},
        {"a restart interval", jpegWith({0xFF, 0xDD, 0, 4, 0, 0}), true, 64, 48},
        {"a frame behind FF 00 and a length", hiddenFrameJpeg(64, 48), false, 64, 48},
        {"a frame behind a restart marker", jpegWith({0xFF, 0xD0}), false, 64, 48},
        {"a frame behind a stray byte", jpegWith({0x00}), false, 64, 48},
        {"a segment of length 1", jpegWith({0xFF, 0xE1, 0, 1}), false, 64, 48},
        {"a marker the decoder refuses", jpegWith({0xFF, 0xC8, 0, 2}), false, 0, 0},
        {"the scan before the frame", scanFirst, false, 0, 0},
        {"the image's end before the frame", jpegWith({0xFF, 0xD9}), false, 0, 0},
        {"cut inside the frame's header", cut, false, 0, 0},
        {"a PNG", ImageFileWriter::png(image), true, 20, 12},
        {"a BMP", ImageFileWriter::bmp(image), true, 20, 12},
        {"a TGA", ImageFileWriter::tga(image), true, 20, 12},
        {"a DDS", ImageFileWriter::dds(image), true, 20, 12},
    };
    for (const auto& c : cases) {
        uint32_t width = 0, height = 0, texelBytes = 0;
        EXPECT_EQ(TextureDevice::imageSize(c.bytes.data(), uint32_t(c.bytes.size()), width, height, texelBytes),
                  c.sized)
            << c.what;
        D3DXIMAGE_INFO info{};
        const bool decoded = SUCCEEDED(D3DXGetImageInfoFromFileInMemory(c.bytes.data(), UINT(c.bytes.size()), &info));
        if (c.sized) {
            EXPECT_EQ(width, c.width) << c.what;
            EXPECT_EQ(height, c.height) << c.what;
            EXPECT_EQ(texelBytes, 4u) << c.what;
        }
        if (c.width) {
            ASSERT_TRUE(decoded) << c.what;
            EXPECT_EQ(info.Width, c.width) << c.what;
            EXPECT_EQ(info.Height, c.height) << c.what;
        }
    }
}

}
