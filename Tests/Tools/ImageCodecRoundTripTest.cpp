#include "ImageCodecEncoder.h"

#include "Core/ImageCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace
{

enum class Content
{
    Flat,
    Gradient,
    Noise,
    Terrain, // smooth hills with a little noise, the height maps' kind of data
    Patchwork // flat areas beside gradients and noise
};

const char* contentName(Content content)
{
    switch (content)
    {
    case Content::Flat: return "flat";
    case Content::Gradient: return "gradient";
    case Content::Noise: return "noise";
    case Content::Terrain: return "terrain";
    case Content::Patchwork: return "patchwork";
    }
    return "?";
}

ImageCodec::Description describe(int width, int height, int channels, int bytesPerChannel, int quality = 5)
{
    ImageCodec::Description d;
    d.width = width;
    d.height = height;
    d.channels = channels;
    d.bytesPerChannel = bytesPerChannel;
    d.quality = quality;
    return d;
}

std::vector<uint8_t> makeImage(const ImageCodec::Description& d, Content content, uint32_t seed)
{
    std::mt19937 random(seed);
    const int bits = 8 * d.bytesPerChannel;
    const double full = bits >= 32 ? 4294967295.0 : double((uint64_t(1) << bits) - 1);
    std::vector<uint8_t> pixels(size_t(d.width) * d.height * d.channels * d.bytesPerChannel);
    size_t at = 0;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x)
            for (int c = 0; c < d.channels; ++c)
            {
                double value = 0;
                const double u = double(x) / d.width;
                const double v = double(y) / d.height;
                switch (content)
                {
                case Content::Flat: value = full * (0.2 + 0.3 * c); break;
                case Content::Gradient: value = full * (0.6 * u + 0.4 * v) * (c + 1) / d.channels; break;
                case Content::Noise: value = double(random()) / 4294967295.0 * full; break;
                case Content::Terrain:
                    value = full * (0.5 + 0.2 * std::sin(7 * u + c) * std::cos(5 * v) + 0.1 * std::sin(23 * u * v))
                            + (double(random() % 5) - 2);
                    break;
                case Content::Patchwork:
                    if ((x / 11 + y / 7) % 3 == 0)
                        value = full * 0.25;
                    else if ((x / 11 + y / 7) % 3 == 1)
                        value = full * (0.3 + 0.5 * u);
                    else
                        value = double(random() % 64) * full / 255;
                    break;
                }
                const uint64_t sample = uint64_t(std::clamp(value, 0.0, full));
                for (int k = 0; k < d.bytesPerChannel; ++k)
                    pixels[at++] = static_cast<uint8_t>(sample >> (8 * k));
            }
    return pixels;
}

struct RoundTrip
{
    std::vector<uint8_t> stream;
    std::vector<uint8_t> pixels;
    ImageCodec::Description decoded;
};

::testing::AssertionResult roundTrip(const ImageCodec::Description& d, const std::vector<uint8_t>& pixels,
                                     RoundTrip& result)
{
    if (!ImageCodecEncoder::compress(d, pixels.data(), pixels.size(), result.stream))
        return ::testing::AssertionFailure() << "encoder refused";
    if (!ImageCodec::decompress(result.decoded, result.pixels, result.stream.data(), result.stream.size()))
        return ::testing::AssertionFailure() << "decoder refused";
    const ImageCodec::Description& r = result.decoded;
    if (r.width != d.width || r.height != d.height || r.channels != d.channels
        || r.bytesPerChannel != d.bytesPerChannel || r.quality != ImageCodec::maxQuality - d.quality)
        return ::testing::AssertionFailure() << "description differs";
    return ::testing::AssertionSuccess();
}

size_t flatStreamSize(const ImageCodec::Description& d)
{
    const size_t blocks = size_t((d.width + 7) / 8) * ((d.height + 7) / 8);
    return ImageCodec::headerSize + blocks * (d.channels * d.bytesPerChannel + 1);
}

} // namespace

TEST(ImageCodecRoundTripTest, LosslessRoundTripsGiveTheSamePixels)
{
    const int sizes[][2] = {{8, 8}, {1, 1}, {13, 7}, {64, 64}, {100, 37}, {257, 3}, {3, 130}};
    uint32_t seed = 1;
    for (int bytesPerChannel = 1; bytesPerChannel <= 4; ++bytesPerChannel)
        for (int channels = 1; channels <= 3; ++channels)
            for (const auto& size : sizes)
                for (Content content :
                     {Content::Flat, Content::Gradient, Content::Noise, Content::Terrain, Content::Patchwork})
                {
                    const auto d = describe(size[0], size[1], channels, bytesPerChannel);
                    const auto pixels = makeImage(d, content, seed++);
                    RoundTrip r;
                    ASSERT_TRUE(roundTrip(d, pixels, r));
                    ASSERT_EQ(r.pixels, pixels) << contentName(content) << " " << size[0] << "x" << size[1] << " "
                                                << channels << " channels of " << bytesPerChannel << " bytes";
                }
}

TEST(ImageCodecRoundTripTest, StreamSizesFollowTheContent)
{
    // Flat images store one base value and one header byte per block.
    for (int bytesPerChannel : {1, 2})
        for (int channels : {1, 3})
        {
            const auto d = describe(77, 50, channels, bytesPerChannel);
            RoundTrip r;
            ASSERT_TRUE(roundTrip(d, makeImage(d, Content::Flat, 3), r));
            EXPECT_EQ(r.stream.size(), flatStreamSize(d));
        }

    // A block rising by 3 per column and 5 per row spans 56 values (6 bits) but
    // its differences need 3: base, a 3-byte block header and 24 data bytes.
    {
        const auto d = describe(8, 8, 1, 2);
        std::vector<uint8_t> pixels;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
            {
                const int value = 40000 + 3 * x + 5 * y;
                pixels.push_back(static_cast<uint8_t>(value));
                pixels.push_back(static_cast<uint8_t>(value >> 8));
            }
        RoundTrip r;
        ASSERT_TRUE(roundTrip(d, pixels, r));
        EXPECT_EQ(r.pixels, pixels);
        EXPECT_EQ(r.stream.size(), 5u + 2 + 3 + 24);
    }

    // Sloping ground needs about 10 of its 16 bits; noise costs little above raw.
    {
        const auto d = describe(512, 512, 1, 2);
        const auto terrain = makeImage(d, Content::Terrain, 11);
        RoundTrip r;
        ASSERT_TRUE(roundTrip(d, terrain, r));
        EXPECT_EQ(r.pixels, terrain);
        EXPECT_LT(r.stream.size(), terrain.size() * 3 / 4);

        const auto noise = makeImage(d, Content::Noise, 12);
        ASSERT_TRUE(roundTrip(d, noise, r));
        EXPECT_EQ(r.pixels, noise);
        EXPECT_LT(r.stream.size(), noise.size() + noise.size() / 16);
    }
}

TEST(ImageCodecRoundTripTest, LowerQualitiesLoseOnlyTheDroppedBits)
{
    for (int quality = 0; quality < 5; ++quality)
        for (int bytesPerChannel : {1, 2})
            for (Content content : {Content::Gradient, Content::Noise, Content::Terrain})
            {
                const auto d = describe(45, 21, 2, bytesPerChannel, quality);
                const auto pixels = makeImage(d, content, 100 + quality);
                RoundTrip r;
                ASSERT_TRUE(roundTrip(d, pixels, r));
                ASSERT_EQ(r.pixels.size(), pixels.size());
                const uint32_t limit = 1u << (5 - quality);
                for (size_t i = 0; i < pixels.size(); i += bytesPerChannel)
                {
                    uint32_t original = 0, decoded = 0;
                    for (int k = 0; k < bytesPerChannel; ++k)
                    {
                        original |= uint32_t(pixels[i + k]) << (8 * k);
                        decoded |= uint32_t(r.pixels[i + k]) << (8 * k);
                    }
                    ASSERT_LE(decoded, original) << "quality " << quality << " at " << i;
                    ASSERT_LT(original - decoded, limit) << "quality " << quality << " at " << i;
                }
            }
}

TEST(ImageCodecRoundTripTest, EncoderRefusesImagesItCannotDescribe)
{
    const std::vector<uint8_t> pixels(16384 * 2 * 12, 1);
    std::vector<uint8_t> stream(3, 0);
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 1, 1), nullptr, 64, stream));
    EXPECT_TRUE(stream.empty());
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 1, 1), pixels.data(), 63, stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(0, 8, 1, 1), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, -1, 1, 1), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(16384, 1, 1, 1), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 0, 1), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 4, 1), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 1, 0), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 1, 5), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 1, 1, 6), pixels.data(), pixels.size(), stream));
    EXPECT_FALSE(ImageCodecEncoder::compress(describe(8, 8, 1, 1, -1), pixels.data(), pixels.size(), stream));
    EXPECT_TRUE(stream.empty());

    RoundTrip r;
    EXPECT_TRUE(roundTrip(describe(16383, 2, 3, 4), pixels, r));
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin(), pixels.begin() + r.pixels.size()), r.pixels);
}
