// The atlas on a real device: random pieces placed without overlap and with
// their texels intact.
#include "TestDevice.h"

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
