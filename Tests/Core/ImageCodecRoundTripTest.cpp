#include "Core/ImageCodec.h"

#include "ImageTestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace
{
using Bytes = std::vector<uint8_t>;

// Terrain: smooth hills with a little noise, as in the height maps; patchwork:
// flat areas beside gradients and noise.
enum Content { Flat, Gradient, Noise, Terrain, Patchwork };

using Description = ImageCodec::Description; // width, height, channels, bytes per channel, quality

Bytes makeImage(const Description& d, Content content, uint32_t seed)
{
    std::mt19937 random(seed);
    const double full = std::pow(2.0, 8 * d.bytesPerChannel) - 1;
    Bytes pixels;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x)
            for (int c = 0; c < d.channels; ++c) {
                const double u = double(x) / d.width, v = double(y) / d.height;
                const int patch = (x / 11 + y / 7) % 3;
                double value = full * (0.2 + 0.3 * c);
                if (content == Gradient || (content == Patchwork && patch == 1))
                    value = full * (0.6 * u + 0.4 * v) * (c + 1) / d.channels;
                else if (content == Noise || (content == Patchwork && patch == 2))
                    value = random() / 4294967295.0 * full;
                else if (content == Terrain)
                    value = full * (0.5 + 0.2 * std::sin(7 * u + c) * std::cos(5 * v) + 0.1 * std::sin(23 * u * v)) +
                            (double(random() % 5) - 2);
                const uint64_t sample = uint64_t(std::clamp(value, 0.0, full));
                for (int k = 0; k < d.bytesPerChannel; ++k)
                    pixels.push_back(uint8_t(sample >> (8 * k)));
            }
    return pixels;
}

// Encodes and decodes; the decoded description must match, its quality field
// holding the dropped bit count.
Bytes roundTrip(const Description& d, const Bytes& pixels, Bytes* stream = nullptr)
{
    Bytes coded, decoded;
    Description r;
    EXPECT_TRUE(ImageCodec::compress(d, pixels.data(), pixels.size(), coded));
    EXPECT_TRUE(ImageCodec::decompress(r, decoded, coded.data(), coded.size()));
    EXPECT_TRUE(r.width == d.width && r.height == d.height && r.channels == d.channels &&
                r.bytesPerChannel == d.bytesPerChannel && r.quality == ImageCodec::maxQuality - d.quality);
    if (stream)
        *stream = coded;
    return decoded;
}
}

TEST(ImageCodecRoundTripTest, LosslessRoundTripsGiveTheSamePixels)
{
    const int sizes[][2] = {{8, 8}, {16, 8}, {8, 136}, {104, 40}};
    uint32_t seed = 1;
    for (int bytesPerChannel : {1, 2, 3, 4})
        for (int channels = 1; channels <= 3; ++channels)
            for (const auto& size : sizes)
                for (Content content : {Flat, Gradient, Noise, Terrain, Patchwork}) {
                    SCOPED_TRACE(testing::Message() << "content " << content << " " << size[0] << "x" << size[1] << " "
                                                    << channels << " channels of " << bytesPerChannel << " bytes");
                    const Description d{size[0], size[1], channels, bytesPerChannel, 5};
                    const Bytes pixels = makeImage(d, content, seed++);
                    ASSERT_EQ(roundTrip(d, pixels), pixels);
                }
    // Sloping ground needs about 10 of its 16 bits.
    const Description d{512, 512, 1, 2, 5};
    const Bytes terrain = makeImage(d, Terrain, 11);
    Bytes stream;
    ASSERT_EQ(roundTrip(d, terrain, &stream), terrain);
    EXPECT_LT(stream.size(), terrain.size() * 3 / 4);
}

TEST(ImageCodecRoundTripTest, DecoderSurvivesMutatedStreams)
{
    std::vector<Bytes> seeds;
    const int kinds[][4] = {{1, 2, 5, Terrain}, {3, 1, 5, Patchwork}, {2, 2, 3, Noise}, {3, 4, 5, Gradient}};
    for (const auto& k : kinds) { // channels, bytes per channel, quality, content
        const Description d{24, 16, k[0], k[1], k[2]};
        seeds.emplace_back();
        roundTrip(d, makeImage(d, Content(k[3]), 7), &seeds.back());
    }
    const int decoded = ImageTestFiles::fuzz(seeds, 20240611, 4000, [](std::span<const uint8_t> data) {
        Description d;
        Bytes pixels;
        if (!ImageCodec::decompress(d, pixels, data.data(), data.size())) {
            EXPECT_TRUE(pixels.empty());
            return false;
        }
        EXPECT_EQ(pixels.size(), size_t(d.width) * d.height * d.channels * d.bytesPerChannel);
        EXPECT_LE(pixels.size(), data.size() * 64 * 12);
        return true;
    });
    // Enough must decode to reach the block code, not just the header checks.
    EXPECT_GT(decoded, 200);
}

TEST(ImageCodecRoundTripTest, EncoderRefusesWhatTheFormatCannotHold)
{
    const Bytes pixels(16 * 16 * 3 * 4, 9);
    const Description refused[] = {{13, 8, 1, 1, 5}, {8, 12, 1, 1, 5}, {0, 8, 1, 1, 5}, {4, 4, 1, 1, 5},
                                   {16384, 8, 1, 1, 5}, {8, 8, 0, 1, 5}, {8, 8, 4, 1, 5}, {8, 8, 1, 0, 5},
                                   {8, 8, 1, 5, 5}, {8, 8, 1, 1, 6}, {8, 8, 1, 1, -1}};
    for (const Description& d : refused) {
        Bytes stream{1, 2, 3};
        EXPECT_FALSE(ImageCodec::compress(d, pixels.data(), pixels.size(), stream)) << d.width << "x" << d.height;
        EXPECT_TRUE(stream.empty());
    }
    Bytes stream;
    EXPECT_FALSE(ImageCodec::compress({16, 16, 3, 4, 5}, pixels.data(), pixels.size() - 1, stream));
    EXPECT_FALSE(ImageCodec::compress({8, 8, 1, 1, 5}, nullptr, 64, stream));
}

TEST(ImageCodecRoundTripTest, BlocksAreStoredFlatPlainOrAsDifferencesSavingUpToThreeBits)
{
    // One 8 x 8 block of one byte per pixel, lossless: value = step x (x + y) + 10.
    // Steps of 1 span 14 (4 bits) with differences of 1 (1 bit): 3 bits saved,
    // kind 3. Steps of 3 span 42 (6 bits) with differences of 3 (2 bits): 4 bits
    // would be saved, which a kind cannot say, so the values stay plain.
    struct Case
    {
        int step;
        Bytes expectedStart; // stream bytes after the 5-byte header
        size_t size;
    } cases[] = {
        {0, {10, 0x00}, 7},                         // flat: base, mode 0
        {1, {10, 0xD9, 0x00}, 5 + 1 + 2 + 8}, // mode 1, width 4 - 1, kind 3, high 0, bias 0; 64 1-bit numbers
        {3, {10, 0x29}, 5 + 1 + 1 + 48},            // mode 1, width 6 - 1, kind 0; 64 6-bit numbers
    };
    for (const Case& c : cases) {
        Bytes pixels;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                pixels.push_back(uint8_t(c.step * (x + y) + 10));
        Bytes stream;
        const Description d{8, 8, 1, 1, 5};
        ASSERT_EQ(roundTrip(d, pixels, &stream), pixels) << c.step;
        EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 5), Bytes({0x28, 0x08, 0x00, 0x02, 0x00}));
        EXPECT_EQ(Bytes(stream.begin() + 5, stream.begin() + 5 + c.expectedStart.size()), c.expectedStart) << c.step;
        EXPECT_EQ(stream.size(), c.size) << c.step;
    }
}
