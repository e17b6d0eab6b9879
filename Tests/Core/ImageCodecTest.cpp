#include "Core/ImageCodec.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

// Streams built field by field check the decoder against the format itself; the
// round trips through the builder's encoder are in the Tools tests.
namespace
{
using Bytes = std::vector<uint8_t>;

// Writes fields least significant bit first.
struct StreamBuilder
{
    Bytes bytes;
    size_t bit = 0;

    StreamBuilder& bits(uint32_t value, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i, ++bit) {
            if (bit % 8 == 0)
                bytes.push_back(0);
            bytes.back() |= uint8_t(((value >> i) & 1u) << (bit % 8));
        }
        return *this;
    }
    StreamBuilder& header(unsigned drop, unsigned bytesPerChannel, unsigned channels, unsigned w, unsigned h,
                          unsigned reserved = 0)
    {
        return bits(drop, 3).bits(bytesPerChannel & 3u, 2).bits(channels, 3).bits(w, 14).bits(h, 14).bits(reserved, 4);
    }
    // Base values and data sections start on a byte.
    StreamBuilder& aligned(uint32_t value, unsigned count)
    {
        bit = (bit + 7) / 8 * 8;
        return bits(value, count);
    }
    // One channel's 64 numbers of `width` bits, repeating `values`.
    StreamBuilder& numbers(const std::vector<uint32_t>& values, unsigned width)
    {
        aligned(values[0], width);
        for (size_t i = 1; i < 64; ++i)
            bits(values[i % values.size()], width);
        return *this;
    }
};

struct Decoded
{
    bool ok = false;
    ImageCodec::Description description;
    Bytes pixels;
};

Decoded decode(const Bytes& stream)
{
    Decoded d;
    d.ok = ImageCodec::decompress(d.description, d.pixels, stream.data(), stream.size());
    return d;
}

// 10 x 3, 2 dropped bits: a block of mode 1 with plain values (kind 0) stored in
// 6 bits (field 5), read with 4 and shifted back; then an edge block of mode 5,
// whose data is skipped.
Bytes plainStream()
{
    const std::vector<uint32_t> n{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    StreamBuilder s;
    s.header(2, 1, 1, 10, 3).aligned(7, 8).bits(1, 3).bits(5, 3).bits(0, 2).numbers(n, 4);
    s.aligned(200, 8).bits(5, 3).bits(5, 3).bits(0, 2).numbers(n, 4);
    return s.bytes;
}
}

TEST(ImageCodecTest, PlainValuesDroppedBitsSkippedModesAndClippedEdges)
{
    const Decoded d = decode(plainStream());
    ASSERT_TRUE(d.ok);
    const ImageCodec::Description& r = d.description;
    EXPECT_EQ(std::tuple(r.width, r.height, r.channels, r.bytesPerChannel, r.quality), std::tuple(10, 3, 1, 1, 2));
    ASSERT_EQ(d.pixels.size(), 30u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(d.pixels[y * 10 + x], x < 8 ? 7 + (y * 8 + x) % 16 * 4 : 200) << x << "," << y;
}

TEST(ImageCodecTest, DifferencesRunAlongRowsFromTheFirstColumn)
{
    // Kind 2, bias 5, high 3: first value 4 + 3 x 64, column steps +2, row steps +1.
    // A row continuing from the previous row's last pixel would give other values.
    std::vector<uint32_t> n(64, 5 + 1);
    for (int y = 0; y < 8; ++y)
        n[y * 8] = y == 0 ? 4 : 5 + 2;
    StreamBuilder s;
    s.header(0, 2, 1, 8, 8).aligned(1000, 16).bits(1, 3).bits(7, 4).bits(2, 2).bits(3, 4).bits(5, 4).numbers(n, 6);
    const Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(d.pixels[2 * i] | d.pixels[2 * i + 1] << 8, 1000 + 196 + 2 * (i / 8) + i % 8) << i;
}

TEST(ImageCodecTest, OnlyModeOneAddsValuesAndSumsBeyondTheChannelClampToItsLargestValue)
{
    // One 8 x 8 single-channel block; the first four pixels of row 0 are compared.
    struct Case
    {
        unsigned mode, bytesPerChannel;
        uint32_t base;
        unsigned field, kind, bias;
        std::vector<uint32_t> numbers;
        std::vector<uint32_t> expected;
    } cases[] = {
        {1, 1, 250, 3, 0, 0, {0, 3, 5, 10}, {250, 253, 255, 255}},
        {2, 1, 250, 3, 0, 0, {0, 3, 5, 10}, {250, 250, 250, 250}},
        {3, 1, 250, 3, 0, 0, {0, 3, 5, 10}, {250, 250, 250, 250}},
        {4, 1, 250, 3, 0, 0, {0, 3, 5, 10}, {250, 250, 250, 250}},
        {5, 1, 250, 3, 0, 0, {0, 3, 5, 10}, {250, 250, 250, 250}},
        {6, 1, 250, 3, 0, 0, {0, 3, 5, 10}, {250, 250, 250, 250}},
        {7, 1, 250, 3, 0, 0, {0, 3, 5, 10}, {250, 250, 250, 250}},
        // three-byte channels: a 5-bit width field, values carried into the third byte
        {1, 3, 0x7FFFF0, 4, 0, 0, {0, 1, 31, 16}, {0x7FFFF0, 0x7FFFF1, 0x80000F, 0x800000}},
        {1, 3, 0xFFFFF0, 4, 0, 0, {0, 1, 31, 16}, {0xFFFFF0, 0xFFFFF1, 0xFFFFFF, 0xFFFFFF}},
        // differences below zero: the sum is negative, which also clamps to the largest value
        {1, 1, 5, 3, 1, 8, {0}, {5, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        StreamBuilder s;
        s.header(0, c.bytesPerChannel, 1, 8, 8).aligned(c.base, 8 * c.bytesPerChannel).bits(c.mode, 3);
        s.bits(c.field, c.bytesPerChannel == 1 ? 3 : 5).bits(c.kind, 2);
        unsigned width = c.field + 1;
        if (c.kind != 0) {
            s.bits(0, 4).bits(c.bias, 4);
            width -= c.kind;
        }
        s.numbers(c.numbers, width);
        const Decoded d = decode(s.bytes);
        ASSERT_TRUE(d.ok) << c.mode << " " << c.base;
        for (size_t x = 0; x < c.expected.size(); ++x) {
            uint32_t value = 0;
            for (unsigned k = 0; k < c.bytesPerChannel; ++k)
                value |= uint32_t(d.pixels[x * c.bytesPerChannel + k]) << (8 * k);
            EXPECT_EQ(value, c.expected[x]) << "mode " << c.mode << " base " << c.base << " pixel " << x;
        }
    }
}

TEST(ImageCodecTest, WideChannelsSitSideBySideInThePixel)
{
    // Two 2-byte channels in a flat block: channel 1 starts at byte 2, not byte 1.
    StreamBuilder s;
    s.header(0, 2, 2, 8, 8).aligned(0x1234, 16).aligned(0xABCD, 16).bits(0, 3);
    const Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.pixels.size(), 64u * 4);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(Bytes(d.pixels.begin() + 4 * i, d.pixels.begin() + 4 * i + 4), Bytes({0x34, 0x12, 0xCD, 0xAB}));
}

TEST(ImageCodecTest, ShortStreamsGarbageHeadersAndHugeSizesFailCleanly)
{
    auto flat = [](unsigned bytesPerChannel, unsigned channels, unsigned w, unsigned h, unsigned reserved = 0) {
        return StreamBuilder().header(0, bytesPerChannel, channels, w, h, reserved).aligned(1, 8).bits(0, 3).bytes;
    };
    ASSERT_TRUE(decode(flat(1, 1, 8, 8)).ok);
    const Bytes bad[] = {flat(1, 1, 8, 8, 1), flat(1, 1, 8, 8, 8), flat(1, 0, 8, 8), flat(1, 4, 8, 8),
                         flat(1, 7, 8, 8),    flat(1, 1, 0, 8),    flat(1, 1, 8, 0),
                         // the largest image a header describes, with one block of data: refused before allocating
                         flat(0, 3, 16383, 16383)};
    for (const Bytes& stream : bad)
        EXPECT_FALSE(decode(stream).ok);
    // Every cut of a valid stream fails, in a base value, a block header or a data section.
    const Bytes full = plainStream();
    for (size_t length = 0; length < full.size(); ++length) {
        const Decoded d = decode(Bytes(full.begin(), full.begin() + length));
        EXPECT_FALSE(d.ok) << length;
        EXPECT_TRUE(d.pixels.empty());
        EXPECT_EQ(d.description.width, 0);
    }
}

TEST(ImageCodecTest, StreamsDecodeTheSizedBlockAtTheirPosition)
{
    // As the terrain map stores it: u32 byte count, the coded bytes, then more data.
    const Bytes coded = plainStream();
    const uint32_t count = uint32_t(coded.size()), trailer = 0x600DF00Du;
    FileArray stream;
    ASSERT_TRUE(stream.writeValue(count));
    ASSERT_EQ(stream.write(coded.data(), count), count);
    ASSERT_TRUE(stream.writeValue(trailer));
    ImageCodec::Description description;
    Bytes pixels;
    // A count beyond the stream's end is refused without moving.
    stream.seek(4, 0);
    EXPECT_FALSE(ImageCodec::decompress(description, pixels, stream, count + 5));
    EXPECT_EQ(stream.tell(), 4u);
    ASSERT_TRUE(ImageCodec::decompress(description, pixels, stream, count));
    EXPECT_EQ(pixels, decode(coded).pixels);
    uint32_t after = 0;
    ASSERT_TRUE(stream.readValue(after));
    EXPECT_EQ(after, trailer);
    stream.seek(4, 0);
    EXPECT_FALSE(ImageCodec::decompress(description, pixels, stream, count - 1));
    EXPECT_TRUE(pixels.empty());
}
