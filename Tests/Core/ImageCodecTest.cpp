#include "Core/ImageCodec.h"

#include "Core/File.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <vector>

namespace
{

// Assembles streams field by field, least significant bit first.
class StreamBuilder
{
public:
    void bits(uint32_t value, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i, ++bit_)
        {
            if (bit_ % 8 == 0)
                bytes.push_back(0);
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1u) << (bit_ % 8));
        }
    }
    void align() { bit_ = (bit_ + 7) / 8 * 8; }
    void header(unsigned dropBits, unsigned bytesPerChannel, unsigned channels, unsigned width,
                unsigned height, unsigned reserved = 0)
    {
        bits(dropBits, 3);
        bits(bytesPerChannel & 3u, 2);
        bits(channels, 3);
        bits(width, 14);
        bits(height, 14);
        bits(reserved, 4);
    }
    void base(uint32_t value, unsigned bytesPerChannel)
    {
        align();
        bits(value, 8 * bytesPerChannel);
    }
    // 64 numbers of `width` bits, one channel's data section.
    void numbers(const std::vector<uint32_t>& values, unsigned width)
    {
        align();
        for (int i = 0; i < 64; ++i)
            bits(values[i % values.size()], width);
    }

    std::vector<uint8_t> bytes;

private:
    size_t bit_ = 0;
};

struct Decoded
{
    bool ok = false;
    ImageCodec::Description description;
    std::vector<uint8_t> pixels;
};

Decoded decode(const std::vector<uint8_t>& stream)
{
    Decoded result;
    result.ok = ImageCodec::decompress(result.description, result.pixels, stream.data(), stream.size());
    return result;
}

// 16 x 8 one-channel image: a coded block (differences and plain values mixed
// over three channels would be too long by hand) followed by a flat block.
std::vector<uint8_t> twoBlockStream(unsigned mode)
{
    StreamBuilder s;
    s.header(0, 1, 1, 16, 8);
    s.base(3, 1);
    s.bits(mode, 3);
    s.bits(4, 3); // stored width 5
    s.bits(0, 2);
    s.numbers({0, 1, 2, 3, 4, 5, 6, 7, 31}, 5);
    s.base(99, 1);
    s.bits(0, 3);
    return s.bytes;
}

} // namespace

TEST(ImageCodecTest, FlatBlockFillsEveryPixelAndReportsTheHeader)
{
    StreamBuilder s;
    s.header(0, 1, 1, 8, 8);
    s.base(17, 1);
    s.bits(0, 3);
    ASSERT_EQ(s.bytes.size(), 7u); // header, one base byte, one block-header byte
    const Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.description.width, 8);
    EXPECT_EQ(d.description.height, 8);
    EXPECT_EQ(d.description.channels, 1);
    EXPECT_EQ(d.description.bytesPerChannel, 1);
    EXPECT_EQ(d.description.quality, 0);
    EXPECT_EQ(d.pixels, std::vector<uint8_t>(64, 17));
}

TEST(ImageCodecTest, ReservedHeaderBitsMakeTheStreamInvalid)
{
    for (unsigned reserved = 1; reserved < 16; reserved <<= 1)
    {
        StreamBuilder s;
        s.header(0, 1, 1, 8, 8, reserved);
        s.base(17, 1);
        s.bits(0, 3);
        const Decoded d = decode(s.bytes);
        EXPECT_FALSE(d.ok) << reserved;
        EXPECT_TRUE(d.pixels.empty());
    }
}

TEST(ImageCodecTest, PlainValuesWithDroppedBitsAreShifted)
{
    StreamBuilder s;
    s.header(2, 1, 1, 8, 8);
    s.base(10, 1);
    s.bits(1, 3);
    s.bits(5, 3); // stored width 6, read with 4 bits
    s.bits(0, 2);
    std::vector<uint32_t> n(64);
    for (int i = 0; i < 64; ++i)
        n[i] = i % 16;
    s.numbers(n, 4);
    const Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.description.quality, 2);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(d.pixels[i], 10 + (i % 16) * 4) << i;
}

TEST(ImageCodecTest, DifferencesRunAlongRowsAndDownTheFirstColumn)
{
    // kind 1, bias 8, every number 8: all values equal the first one (8 + high x 32).
    {
        StreamBuilder s;
        s.header(0, 1, 1, 8, 8);
        s.base(5, 1);
        s.bits(1, 3);
        s.bits(5, 3); // stored width 6, kind 1: 5 bits per number
        s.bits(1, 2);
        s.bits(1, 4); // high
        s.bits(8, 4); // bias
        s.numbers({8}, 5);
        const Decoded d = decode(s.bytes);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.pixels, std::vector<uint8_t>(64, 5 + 8 + 32));
    }
    // Column steps of +2 and row steps of +1: value(x, y) = first + 2y + x. A row
    // continuing from the previous row's last pixel would give other values.
    {
        StreamBuilder s;
        s.header(0, 2, 1, 8, 8);
        s.base(1000, 2);
        s.bits(1, 3);
        s.bits(7, 4); // stored width 8, kind 2: 6 bits per number
        s.bits(2, 2);
        s.bits(3, 4); // high: first value = 4 + 3 x 64
        s.bits(5, 4); // bias
        std::vector<uint32_t> n(64);
        for (int i = 0; i < 64; ++i)
            n[i] = i == 0 ? 4 : i % 8 == 0 ? 5 + 2 : 5 + 1;
        s.numbers(n, 6);
        const Decoded d = decode(s.bytes);
        ASSERT_TRUE(d.ok);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
            {
                const int i = (y * 8 + x) * 2;
                EXPECT_EQ(d.pixels[i] | d.pixels[i + 1] << 8, 1000 + 196 + 2 * y + x) << x << "," << y;
            }
    }
}

TEST(ImageCodecTest, SumsOutsideTheChannelRangeBecomeTheLargestValue)
{
    // Plain values pushing a 1-byte channel past 255.
    StreamBuilder s;
    s.header(0, 1, 1, 8, 8);
    s.base(250, 1);
    s.bits(1, 3);
    s.bits(3, 3);
    s.bits(0, 2);
    s.numbers({0, 5, 6, 15}, 4);
    Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pixels[0], 250);
    EXPECT_EQ(d.pixels[1], 255);
    EXPECT_EQ(d.pixels[2], 255);
    EXPECT_EQ(d.pixels[3], 255);

    // Differences falling below zero wrap as unsigned sums and give the largest value too.
    StreamBuilder t;
    t.header(0, 2, 1, 8, 8);
    t.base(1, 2);
    t.bits(1, 3);
    t.bits(3, 4);
    t.bits(1, 2);
    t.bits(0, 4);
    t.bits(15, 4);
    t.numbers({0}, 3);
    d = decode(t.bytes);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pixels[0] | d.pixels[1] << 8, 1);
    EXPECT_EQ(d.pixels[2] | d.pixels[3] << 8, 0xFFFF);
}

TEST(ImageCodecTest, ModesAboveOneSkipTheirDataAndWriteTheBase)
{
    const Decoded coded = decode(twoBlockStream(1));
    ASSERT_TRUE(coded.ok);
    EXPECT_EQ(coded.pixels[1], 4);
    EXPECT_EQ(coded.pixels[16], 34); // pixel (0, 1) takes number 8
    EXPECT_EQ(coded.pixels[16 + 9], 99);
    for (unsigned mode = 2; mode < 8; ++mode)
    {
        const Decoded d = decode(twoBlockStream(mode));
        ASSERT_TRUE(d.ok) << mode;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(d.pixels[y * 16 + x], x < 8 ? 3 : 99) << mode;
    }
}

TEST(ImageCodecTest, WideChannelsSitSideBySideInThePixel)
{
    // Two 2-byte channels: channel 1 starts at byte 2, not byte 1.
    StreamBuilder s;
    s.header(0, 2, 2, 8, 8);
    s.base(0x1234, 2);
    s.base(0xABCD, 2);
    s.bits(0, 3);
    Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.pixels.size(), 64u * 4);
    for (int i = 0; i < 64; ++i)
    {
        EXPECT_EQ(d.pixels[i * 4 + 0], 0x34);
        EXPECT_EQ(d.pixels[i * 4 + 1], 0x12);
        EXPECT_EQ(d.pixels[i * 4 + 2], 0xCD);
        EXPECT_EQ(d.pixels[i * 4 + 3], 0xAB);
    }

    // Four bytes per channel are stored as 0 in the 2-bit field.
    StreamBuilder w;
    w.header(0, 4, 1, 8, 8);
    w.base(0xDEADBEEF, 4);
    w.bits(0, 3);
    d = decode(w.bytes);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.description.bytesPerChannel, 4);
    ASSERT_EQ(d.pixels.size(), 256u);
    uint32_t value = 0;
    std::memcpy(&value, d.pixels.data() + 252, 4);
    EXPECT_EQ(value, 0xDEADBEEFu);
}

TEST(ImageCodecTest, ThreeChannelsReadTheirCodingsAndDataInOrder)
{
    StreamBuilder s;
    s.header(0, 1, 3, 8, 8);
    s.base(10, 1);
    s.base(20, 1);
    s.base(30, 1);
    s.bits(1, 3);
    s.bits(0, 3); // channel 0: 1 bit, plain
    s.bits(0, 2);
    s.bits(1, 3); // channel 1: 2 bits, differences of kind 1 -> 1 bit
    s.bits(1, 2);
    s.bits(2, 4);
    s.bits(0, 4);
    s.bits(7, 3); // channel 2: 8 bits, plain
    s.bits(0, 2);
    s.bits(3, 2); // skipped
    s.numbers({1, 0}, 1);
    s.numbers({1, 0, 0, 0, 0, 0, 0, 0}, 1); // first value 1 + 2 x 2; then all +0, rows start +1
    std::vector<uint32_t> n(64);
    for (int i = 0; i < 64; ++i)
        n[i] = i * 3;
    s.numbers(n, 8);
    const Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    for (int i = 0; i < 64; ++i)
    {
        EXPECT_EQ(d.pixels[i * 3 + 0], 10 + (i % 2 == 0 ? 1 : 0)) << i;
        EXPECT_EQ(d.pixels[i * 3 + 1], 20 + 5 + i / 8) << i;
        EXPECT_EQ(d.pixels[i * 3 + 2], 30 + i * 3) << i;
    }
}

TEST(ImageCodecTest, SidesThatAreNotMultiplesOfEightAreClipped)
{
    StreamBuilder s;
    s.header(0, 1, 1, 10, 3);
    s.base(7, 1);
    s.bits(1, 3);
    s.bits(7, 3);
    s.bits(0, 2);
    std::vector<uint32_t> n(64);
    for (int i = 0; i < 64; ++i)
        n[i] = i;
    s.numbers(n, 8);
    s.base(200, 1);
    s.bits(0, 3);
    const Decoded d = decode(s.bytes);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.pixels.size(), 30u);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(d.pixels[y * 10 + x], x < 8 ? 7 + y * 8 + x : 200);
}

TEST(ImageCodecTest, MalformedHeadersAndShortStreamsFailCleanly)
{
    auto headerOnly = [](unsigned bytesPerChannel, unsigned channels, unsigned width, unsigned height) {
        StreamBuilder s;
        s.header(0, bytesPerChannel, channels, width, height);
        s.base(1, 1);
        s.bits(0, 3);
        return s.bytes;
    };
    for (unsigned channels : {0u, 4u, 5u, 7u})
        EXPECT_FALSE(decode(headerOnly(1, channels, 8, 8)).ok) << channels;
    EXPECT_FALSE(decode(headerOnly(1, 1, 0, 8)).ok);
    EXPECT_FALSE(decode(headerOnly(1, 1, 8, 0)).ok);
    // The largest image the header can describe, with one block's worth of data:
    // refused before anything the size of the image is allocated.
    EXPECT_FALSE(decode(headerOnly(0, 3, 16383, 16383)).ok);

    std::vector<uint8_t> pixels(5, 1);
    ImageCodec::Description description;
    EXPECT_FALSE(ImageCodec::decompress(description, pixels, nullptr, 0));
    EXPECT_TRUE(pixels.empty());

    // Every cut of a valid stream fails, whether it falls in a base value, a block
    // header or a data section.
    const std::vector<uint8_t> full = twoBlockStream(1);
    ASSERT_TRUE(decode(full).ok);
    for (size_t length = 0; length < full.size(); ++length)
    {
        const Decoded d = decode(std::vector<uint8_t>(full.begin(), full.begin() + length));
        EXPECT_FALSE(d.ok) << length;
        EXPECT_TRUE(d.pixels.empty());
        EXPECT_EQ(d.description.width, 0);
    }
}

TEST(ImageCodecTest, StreamsDecodeTheSizedBlockAtTheirPosition)
{
    // As the terrain map stores it: u32 byte count, the coded bytes, then more data.
    const std::vector<uint8_t> coded = twoBlockStream(1);
    const uint32_t count = static_cast<uint32_t>(coded.size());
    const uint32_t trailer = 0x600DF00Du;
    const Decoded expected = decode(coded);
    ASSERT_TRUE(expected.ok);

    FileArray memory;
    ASSERT_TRUE(memory.writeValue(count));
    ASSERT_EQ(memory.write(coded.data(), count), count);
    ASSERT_TRUE(memory.writeValue(trailer));

    wchar_t folder[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
    const String path = String(folder) + L"ImageCodecTest.bin";
    {
        File out(path, 1, 1, 0);
        ASSERT_TRUE(out.isOpen);
        memory.seek(0, 0);
        std::vector<uint8_t> all(memory.size());
        ASSERT_EQ(memory.read(all.data(), memory.size()), memory.size());
        ASSERT_EQ(out.write(all.data(), uint32_t(all.size())), all.size());
        out.close();
    }
    File disk(path, 0, 1, 1);
    ASSERT_TRUE(disk.isOpen);

    for (FileInterface* stream : {static_cast<FileInterface*>(&memory), static_cast<FileInterface*>(&disk)})
    {
        stream->seek(0, 0);
        uint32_t stored = 0;
        ASSERT_TRUE(stream->readValue(stored));
        ImageCodec::Description description;
        std::vector<uint8_t> pixels;
        // A count beyond the stream's end is refused without moving.
        EXPECT_FALSE(ImageCodec::decompress(description, pixels, *stream, stored + 5));
        EXPECT_EQ(stream->tell(), 4u);
        ASSERT_TRUE(ImageCodec::decompress(description, pixels, *stream, stored));
        EXPECT_EQ(pixels, expected.pixels);
        uint32_t after = 0;
        ASSERT_TRUE(stream->readValue(after));
        EXPECT_EQ(after, trailer);
        // A count shorter than the coded block fails.
        stream->seek(4, 0);
        EXPECT_FALSE(ImageCodec::decompress(description, pixels, *stream, stored - 1));
        EXPECT_TRUE(pixels.empty());
    }
    disk.close();
    DeleteFileW(path.text());
}

// Input placed so that its last byte ends a page and the next page is
// inaccessible: any read past the stream faults the test.
class GuardedBuffer
{
public:
    GuardedBuffer()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, capacity_ + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (base_)
            VirtualProtect(base_ + capacity_, page_, PAGE_NOACCESS, &old);
    }
    ~GuardedBuffer()
    {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
    }
    bool valid() const { return base_ != nullptr; }
    const uint8_t* place(const std::vector<uint8_t>& bytes)
    {
        uint8_t* start = base_ + capacity_ - bytes.size();
        std::memcpy(start, bytes.data(), bytes.size());
        return start;
    }
    static constexpr size_t capacity_ = 1 << 16;

private:
    size_t page_ = 4096;
    uint8_t* base_ = nullptr;
};

TEST(ImageCodecTest, FuzzedStreamsNeverReadPastTheirEnd)
{
    // Seeds covering every path: flat, plain, shifted, differences, three channels,
    // wide channels, clipped edges and skipped modes.
    std::vector<std::vector<uint8_t>> seeds;
    seeds.push_back(twoBlockStream(1));
    seeds.push_back(twoBlockStream(5));
    {
        StreamBuilder s;
        s.header(1, 2, 3, 13, 9);
        std::mt19937 random(7);
        for (int block = 0; block < 4; ++block)
        {
            for (int c = 0; c < 3; ++c)
                s.base(random() & 0xFFFF, 2);
            s.bits(block == 3 ? 0 : 1, 3);
            if (block == 3)
                continue;
            unsigned widths[3];
            for (int c = 0; c < 3; ++c)
            {
                const unsigned stored = 1 + random() % 16;
                const unsigned kind = random() % 4;
                s.bits(stored - 1, 4);
                s.bits(kind, 2);
                if (kind)
                {
                    s.bits(random() & 15, 4);
                    s.bits(random() & 15, 4);
                }
                unsigned e = stored > 1 ? std::max(1, int(stored) - 1) : 1;
                widths[c] = kind ? std::max(1, int(e) - int(kind)) : e;
            }
            s.bits(0, 2);
            for (int c = 0; c < 3; ++c)
            {
                std::vector<uint32_t> n(64);
                for (auto& v : n)
                    v = random();
                s.numbers(n, widths[c]);
            }
        }
        seeds.push_back(s.bytes);
    }
    for (const auto& seed : seeds)
        ASSERT_TRUE(decode(seed).ok);

    GuardedBuffer guard;
    ASSERT_TRUE(guard.valid());
    std::mt19937 random(20240611);
    int decoded = 0;
    for (int round = 0; round < 4000; ++round)
    {
        std::vector<uint8_t> input = seeds[round % seeds.size()];
        const int edits = 1 + random() % 6;
        for (int k = 0; k < edits; ++k)
        {
            const size_t at = random() % input.size();
            switch (random() % 5)
            {
            case 0: input[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
            case 1: input[at] = static_cast<uint8_t>(random()); break;
            case 2: input.resize(std::max<size_t>(1, at)); break;
            case 3: input.insert(input.begin() + at, static_cast<uint8_t>(random())); break;
            case 4: input[random() % 5] = static_cast<uint8_t>(random()); break; // header fields
            }
        }
        ASSERT_LE(input.size(), GuardedBuffer::capacity_);
        ImageCodec::Description description;
        std::vector<uint8_t> pixels;
        if (ImageCodec::decompress(description, pixels, guard.place(input), input.size()))
        {
            ++decoded;
            ASSERT_EQ(pixels.size(), size_t(description.width) * description.height * description.channels
                                         * description.bytesPerChannel);
            ASSERT_LE(pixels.size(), input.size() * 64 * 12);
        }
        else
        {
            ASSERT_TRUE(pixels.empty());
        }
    }
    // The mutations must leave some streams decodable, or the fuzzing tests only the header checks.
    EXPECT_GT(decoded, 200);
}
