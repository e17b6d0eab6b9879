// The atlas on a real device: random pieces placed without overlap and with
// their texels intact.
#include "TestDevice.h"

#include <algorithm>
#include <cmath>
#include <random>

using namespace TestDevice;

namespace {

class TextureAtlas : public DeviceSuite
{
};

struct Placed
{
    uint32_t x, y, width, height, seed;
};

// Growth chooses the cheaper of beside and below (beside on a tie), the
// matrices say where the old content and the piece went, and later pieces
// fill the free space first.
TEST_F(TextureAtlas, GrowsBesideThenBelowAndFillsFreeSpaceFirst)
{
    TextureRef atlas;
    ASSERT_TRUE(Texture::duplicate(makeTexture(64, 64, D3DFMT_A8R8G8B8, pattern(1)), atlas));
    TextureRef holder = atlas; // another owner's reference survives growth
    const float keep = 7.0f;
    struct Step {
        uint32_t side, seed;
        uint32_t atlasWidth, atlasHeight;
        float old[4], placed[4]; // scale x, scale y, offset x, offset y; keep: not written
        Placed at;
    } steps[] = {
        {64, 2, 128, 64, {0.5f, 1.0f, 0.0f, 0.0f}, {0.5f, 1.0f, 0.5f, 0.0f}, {64, 0, 64, 64, 2}},
        {32, 3, 128, 128, {1.0f, 0.5f, 0.0f, 0.0f}, {0.25f, 0.25f, 0.0f, 0.5f}, {0, 64, 32, 32, 3}},
        {32, 4, 128, 128, {keep, keep, keep, keep}, {0.25f, 0.25f, 0.25f, 0.5f}, {32, 64, 32, 32, 4}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.seed);
        float old[9], placed[9];
        std::fill(old, old + 9, keep);
        Texture::insertIntoAtlas(atlas, makeTexture(step.side, step.side, D3DFMT_A8R8G8B8, pattern(step.seed)), old,
                                 placed);
        D3DSURFACE_DESC size{};
        atlas.texture()->texture->GetLevelDesc(0, &size);
        EXPECT_EQ(size.Width, step.atlasWidth);
        EXPECT_EQ(size.Height, step.atlasHeight);
        const int at[4] = {0, 4, 6, 7};
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(old[at[i]], step.old[i]) << "old " << at[i];
            EXPECT_FLOAT_EQ(placed[at[i]], step.placed[i]) << "placed " << at[i];
        }
    }
    EXPECT_EQ(holder.texture(), atlas.texture());
    const Level level = readLevel(atlas);
    const Placed pieces[] = {{0, 0, 64, 64, 1}, {64, 0, 64, 64, 2}, {0, 64, 32, 32, 3}, {32, 64, 32, 32, 4}};
    for (const Placed& p : pieces)
        EXPECT_EQ(wrongTexels(level, [&](uint32_t x, uint32_t y) {
                      return x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height
                                 ? patternTexel(x - p.x, y - p.y, p.seed)
                                 : level.at(x, y);
                  }),
                  0)
            << "piece " << p.seed;
}

TEST_F(TextureAtlas, RandomPiecesNeverOverlapAndKeepTheirTexels)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<uint32_t> side(2, 40);
    TextureRef atlas;
    ASSERT_TRUE(Texture::duplicate(makeTexture(24, 16, D3DFMT_A8R8G8B8, pattern(0)), atlas));
    D3DSURFACE_DESC size{};
    std::vector<Placed> pieces{{0, 0, 24, 16, 0}};
    // Sixty pieces, then one of another format that must fit in free space:
    // its texels are converted, not copied byte for byte.
    const auto stripes = [](uint32_t x, uint32_t) { return x % 2 ? 0xF800u : 0x001Fu; };
    for (uint32_t seed = 1; seed <= 61; ++seed) {
        const bool narrow = seed == 61;
        const uint32_t w = narrow ? 8 : side(random), h = narrow ? 8 : side(random);
        const TextureRef next = narrow ? makeTexture(8, 8, D3DFMT_R5G6B5, stripes)
                                       : makeTexture(w, h, D3DFMT_A8R8G8B8, pattern(seed));
        float m[9] = {};
        Texture::insertIntoAtlas(atlas, next, nullptr, m);
        atlas.texture()->texture->GetLevelDesc(0, &size);
        ASSERT_FLOAT_EQ(m[0] * float(size.Width), float(w)) << "piece " << seed << " was not placed";
        pieces.push_back({uint32_t(std::lround(m[6] * float(size.Width))),
                          uint32_t(std::lround(m[7] * float(size.Height))), w, h, seed});
    }
    EXPECT_LE(size.Width * size.Height, 4u * 256u * 256u);

    const Level level = readLevel(atlas);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Placed& a = pieces[i];
        ASSERT_LE(a.x + a.width, size.Width);
        ASSERT_LE(a.y + a.height, size.Height);
        for (size_t j = i + 1; j < pieces.size(); ++j) {
            const Placed& b = pieces[j];
            EXPECT_TRUE(a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y ||
                        b.y + b.height <= a.y)
                << "pieces " << a.seed << " and " << b.seed << " overlap";
        }
        int wrong = 0;
        for (uint32_t y = 0; y < a.height; ++y)
            for (uint32_t x = 0; x < a.width; ++x) {
                const uint32_t want = a.seed == 61 ? (x % 2 ? 0xFFF80000u : 0xFF0000F8u) : patternTexel(x, y, a.seed);
                wrong += level.at(a.x + x, a.y + y) != want;
            }
        EXPECT_EQ(wrong, 0) << "piece " << a.seed;
    }

    // A piece of another format that does not fit is not a reason to grow.
    Texture::insertIntoAtlas(atlas, makeTexture(512, 512, D3DFMT_R5G6B5, pattern()), nullptr, nullptr);
    EXPECT_EQ(readLevel(atlas).texels, level.texels);
}

}
