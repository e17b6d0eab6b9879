#include "Core/ImageData.h"

#include "ImageTestFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <random>

using namespace ImageTestFiles;

namespace
{
// Holds bytes so that they end exactly at an inaccessible page: a decoder that
// reads one byte past its input faults at once instead of reading garbage.
class GuardedBytes
{
public:
    explicit GuardedBytes(const Bytes& b)
    {
        const size_t page = 4096;
        const size_t dataPages = (b.size() + page - 1) / page;
        size_ = b.size();
        total_ = (dataPages + 1) * page;
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!base_)
            return;
        DWORD old = 0;
        VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
        data_ = base_ + dataPages * page - size_;
        if (size_)
            std::memcpy(data_, b.data(), size_);
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    ~GuardedBytes()
    {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
    }
    std::span<const uint8_t> span() const { return std::span<const uint8_t>(data_, size_); }
    bool ok() const { return base_ != nullptr; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t total_ = 0;
};

// One mutation: random bytes, extreme 16- and 32-bit values (mostly in the
// headers, where sizes and offsets live), truncation or extension.
void mutate(Bytes& b, std::mt19937& rng)
{
    auto pick = [&](size_t n) { return size_t(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); };
    static const uint32_t extremes[] = {0, 1, 2, 3, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                                        0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0x4000, 16385};
    const int kind = int(pick(10));
    if (b.empty())
        b.push_back(0);
    switch (kind) {
    case 0: case 1: case 2: case 3: {
        const int n = 1 + int(pick(4));
        for (int i = 0; i < n; ++i)
            b[pick(b.size())] = uint8_t(rng());
        break;
    }
    case 4: case 5: case 6: {
        const size_t reach = std::min<size_t>(b.size(), 160);
        const size_t at = pick(reach);
        const uint32_t v = extremes[pick(std::size(extremes))];
        const size_t width = kind == 4 ? 2 : 4;
        for (size_t i = 0; i < width && at + i < b.size(); ++i)
            b[at + i] = uint8_t(v >> (8 * i));
        break;
    }
    case 7:
        b.resize(pick(b.size() + 1));
        break;
    case 8:
        b.insert(b.end(), pick(64), uint8_t(rng()));
        break;
    default: {
        // Copy a stretch of the file over another place.
        const size_t from = pick(b.size()), to = pick(b.size());
        const size_t n = std::min({pick(16) + 1, b.size() - from, b.size() - to});
        std::memmove(b.data() + to, b.data() + from, n);
        break;
    }
    }
}

// Decodes mutated copies of the seeds; every success must be a consistent image.
void fuzz(ImageData::Type type, const std::vector<Bytes>& seeds, uint32_t seed, int rounds)
{
    std::mt19937 rng(seed);
    int decoded = 0;
    for (int round = 0; round < rounds; ++round) {
        Bytes b = seeds[round % seeds.size()];
        const int mutations = 1 + int(rng() % 4);
        for (int i = 0; i < mutations; ++i)
            mutate(b, rng);
        GuardedBytes guarded(b);
        ASSERT_TRUE(guarded.ok());
        ImageData img;
        if (!img.decode(guarded.span(), type)) {
            ASSERT_EQ(img.pixels, nullptr) << "round " << round;
            continue;
        }
        ++decoded;
        ASSERT_NE(img.pixels, nullptr);
        ASSERT_GE(img.width, 1);
        ASSERT_GE(img.height, 1);
        // Nothing decodes to more pixels than the file could carry.
        ASSERT_LE(int64_t(img.width) * img.height, int64_t(b.size()) * 128) << "round " << round;
        const int f = img.formatCode;
        ASSERT_TRUE(f == ImageData::FormatPalette || f == ImageData::FormatR5G6B5 || f == ImageData::FormatColor24 ||
                    f == ImageData::FormatColor);
        surface1d<Color> rect;
        const bool copied = img.copyToRect(rect, 64, 64, true);
        ASSERT_EQ(copied, f != ImageData::FormatPalette || img.palette != nullptr);
    }
    // The mutations must leave enough files intact to exercise the pixel paths.
    EXPECT_GT(decoded, rounds / 20);
}
}

TEST(ImageDecoderFuzz, Bmp)
{
    fuzz(ImageData::TypeBmp, {writeBmp(5, 4, 24), writeBmp(6, 3, 8), writeBmp(3, 3, 24, true, true)}, 101, 3000);
    fuzz(ImageData::TypeBitmapResource, {writeBmp(5, 4, 24, false), writeBmp(6, 3, 8, false)}, 102, 1500);
}

TEST(ImageDecoderFuzz, Pcx)
{
    fuzz(ImageData::TypePcx, {writePcx(9, 4, 1), writePcx(9, 4, 3), writePcx(70, 2, 1, true)}, 201, 3000);
}

TEST(ImageDecoderFuzz, Tga)
{
    fuzz(ImageData::TypeTga,
         {writeTga(6, 4, 24, 2), writeTga(6, 4, 32, 10), writeTga(70, 3, 24, 10, true), writeTga(5, 5, 32, 2)}, 301,
         3000);
}

TEST(ImageDecoderFuzz, Tiff)
{
    fuzz(ImageData::TypeTiff, {writeTiff(5, 4, 24, 1), writeTiff(5, 4, 16, 4), writeTiff(4, 5, 24, 2, true)}, 401,
         3000);
}
