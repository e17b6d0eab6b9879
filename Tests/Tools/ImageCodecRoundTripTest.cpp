#include "ImageCodecEncoder.h"

#include "Core/ImageCodec.h"

#include "../Core/ImageTestFiles.h"

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
    EXPECT_TRUE(ImageCodecEncoder::compress(d, pixels.data(), pixels.size(), coded));
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
    const int sizes[][2] = {{8, 8}, {1, 1}, {13, 7}, {100, 37}, {3, 130}};
    uint32_t seed = 1;
    for (int bytesPerChannel : {1, 2, 4})
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
        const Description d{13, 9, k[0], k[1], k[2]};
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
