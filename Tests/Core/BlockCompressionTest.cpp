#include "Core/BlockCompression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace {

uint32_t expand(uint16_t c)
{
    const uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

uint32_t channel(uint32_t c, int shift)
{
    return (c >> shift) & 0xFF;
}

// A reader of the colour half as a four-colour block, whatever the ends.
std::array<uint32_t, 16> decode(const uint8_t* block)
{
    const uint16_t c0 = uint16_t(block[8] | (block[9] << 8)), c1 = uint16_t(block[10] | (block[11] << 8));
    uint32_t palette[4] = {expand(c0), expand(c1), 0, 0};
    for (int shift : {0, 8, 16}) {
        palette[2] |= ((2 * channel(palette[0], shift) + channel(palette[1], shift)) / 3) << shift;
        palette[3] |= ((channel(palette[0], shift) + 2 * channel(palette[1], shift)) / 3) << shift;
    }
    const uint32_t indices = uint32_t(block[12]) | (uint32_t(block[13]) << 8) | (uint32_t(block[14]) << 16) |
                             (uint32_t(block[15]) << 24);
    std::array<uint32_t, 16> texels{};
    for (int i = 0; i < 16; ++i) {
        const uint32_t alpha = (block[i / 2] >> (4 * (i % 2))) & 15;
        texels[size_t(i)] = (alpha * 17) << 24 | palette[(indices >> (2 * i)) & 3];
    }
    return texels;
}

int worstChannelError(uint32_t a, uint32_t b)
{
    int worst = 0;
    for (int shift : {0, 8, 16, 24})
        worst = std::max(worst, std::abs(int(channel(a, shift)) - int(channel(b, shift))));
    return worst;
}

} // namespace

TEST(BlockCompression, BlocksDecodeCloseToTheirTexels)
{
    struct Case
    {
        const char* name;
        uint32_t (*texel)(int i);
        int tolerance;
    };
    const Case cases[] = {
        // Colours that R5G6B5 holds come back exactly.
        {"one colour", [](int) { return 0xFF849608u; }, 0},
        {"two colours", [](int i) { return i % 3 ? 0xFFFFFFFFu : 0xFF000000u; }, 0},
        {"two colours, the darker first", [](int i) { return i < 5 ? 0x88081021u : 0x88FF0400u; }, 0},
        // Ramps: at most half the step between four colours over their range.
        {"a grey ramp", [](int i) { return 0xFF000000u | uint32_t(i * 17) * 0x010101u; }, 43},
        {"a falling ramp", [](int i) { return 0xFF000000u | uint32_t(255 - i * 17) * 0x010101u; }, 43},
        {"a green ramp over alpha", [](int i) { return uint32_t(i * 17) << 24 | uint32_t(40 + i * 8) << 8 | 0x200000u; },
         20},
        {"alpha only", [](int i) { return uint32_t(i * 17) << 24 | 0x336699u; }, 4},
        // Just past halfway between sixteenths: the nearer one is above.
        {"alpha to the nearest sixteenth", [](int i) { return uint32_t(std::min(255, 17 * i + 9)) << 24; }, 8},
        // Red falling as blue rises: the axis runs between them.
        {"red and blue halves", [](int i) { return i < 8 ? 0xFFFF0000u : 0xFF0000FFu; }, 0},
    };
    for (const Case& c : cases) {
        uint32_t texels[16];
        for (int i = 0; i < 16; ++i)
            texels[i] = c.texel(i);
        uint8_t block[BlockCompression::dxt3BlockBytes];
        BlockCompression::encodeDxt3Block(texels, block);
        const uint16_t c0 = uint16_t(block[8] | (block[9] << 8)), c1 = uint16_t(block[10] | (block[11] << 8));
        EXPECT_GE(c0, c1) << c.name << ": the first end is the larger, so no reader takes three colours";
        const std::array<uint32_t, 16> decoded = decode(block);
        for (int i = 0; i < 16; ++i)
            EXPECT_LE(worstChannelError(decoded[size_t(i)], texels[i]), c.tolerance) << c.name << ", texel " << i;
    }
}

TEST(BlockCompression, ImagesAreRowsOfBlocksWithTheirEdgesRepeated)
{
    // A 6 x 5 image: two by two blocks, the right and bottom ones padded.
    const uint32_t width = 6, height = 5;
    std::vector<uint32_t> image(width * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            image[y * width + x] = (x < 3 ? 0xFF000000u : 0x00F8FCF8u) | (y == 4 ? 0x00001F00u : 0u);
    const int32_t blockPitch = 40; // wider than two blocks: rows go by the pitch
    std::vector<uint8_t> blocks(size_t(blockPitch) * 2, 0xCD);
    ASSERT_TRUE(BlockCompression::encodeDxt3(reinterpret_cast<const uint8_t*>(image.data()), int32_t(width * 4),
                                             width, height, blocks.data(), blockPitch));
    for (uint32_t by = 0; by < 2; ++by)
        for (uint32_t bx = 0; bx < 2; ++bx) {
            const std::array<uint32_t, 16> decoded = decode(blocks.data() + by * blockPitch + bx * 16);
            for (uint32_t i = 0; i < 16; ++i) {
                const uint32_t x = std::min(bx * 4 + i % 4, width - 1), y = std::min(by * 4 + i / 4, height - 1);
                EXPECT_LE(worstChannelError(decoded[i], image[y * width + x]), 4) << bx << by << " texel " << i;
            }
        }
    EXPECT_EQ(blocks[32], 0xCD) << "nothing written between the rows of blocks";
    EXPECT_FALSE(BlockCompression::encodeDxt3(reinterpret_cast<const uint8_t*>(image.data()), 24, 0, 5,
                                              blocks.data(), blockPitch));
}
