// The atlas on a real device: placement, growth and the texels of every
// piece afterwards.
#include "TextureTestDevice.h"

#include <random>

using namespace TextureTest;

namespace {

struct Placed
{
    uint32_t x, y, width, height, seed;
};

class TextureAtlas : public DeviceSuite
{
protected:
    static TextureRef piece(uint32_t width, uint32_t height, uint32_t seed, D3DFORMAT format = D3DFMT_A8R8G8B8)
    {
        TextureRef ref;
        EXPECT_TRUE(Texture::create(ref, String(L"piece"), width, height, 1, 0, format, D3DPOOL_MANAGED));
        writeLevel(ref.texture()->texture, [&](uint32_t x, uint32_t y) { return patternTexel(x, y, seed); });
        return ref;
    }

    static D3DSURFACE_DESC size(const TextureRef& ref)
    {
        D3DSURFACE_DESC desc{};
        ref.texture()->texture->GetLevelDesc(0, &desc);
        return desc;
    }

    static void expectMatrix(const float* m, float sx, float sy, float ox, float oy)
    {
        const float want[9] = {sx, 0, 0, 0, sy, 0, ox, oy, 1};
        for (int i = 0; i < 9; ++i)
            EXPECT_FLOAT_EQ(m[i], want[i]) << "element " << i;
    }

    static void expectPiece(const Level& atlas, const Placed& p)
    {
        int wrong = 0;
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x)
                if (atlas.at(p.x + x, p.y + y) != patternTexel(x, y, p.seed))
                    ++wrong;
        EXPECT_EQ(wrong, 0) << "piece " << p.seed << " at " << p.x << "," << p.y;
    }
};

TEST_F(TextureAtlas, GrowsBesideThenBelowAndFillsFreeSpaceFirst)
{
    TextureRef first = piece(64, 64, 1);
    TextureRef atlas;
    ASSERT_TRUE(Texture::duplicate(first, atlas));
    TextureRef holder = atlas; // another owner's reference survives growth
    float old[9] = {}, placed[9] = {};

    // Equal costs (128 x 64 and 64 x 128) choose the layout beside.
    Texture::insertIntoAtlas(atlas, piece(64, 64, 2), old, placed);
    EXPECT_EQ(size(atlas).Width, 128u);
    EXPECT_EQ(size(atlas).Height, 64u);
    expectMatrix(old, 0.5f, 1.0f, 0.0f, 0.0f);
    expectMatrix(placed, 0.5f, 1.0f, 0.5f, 0.0f);

    // 128 x 128 below costs less than 256 x 64 beside.
    float untouched[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
    Texture::insertIntoAtlas(atlas, piece(32, 32, 3), old, placed);
    EXPECT_EQ(size(atlas).Width, 128u);
    EXPECT_EQ(size(atlas).Height, 128u);
    expectMatrix(old, 1.0f, 0.5f, 0.0f, 0.0f);
    expectMatrix(placed, 0.25f, 0.25f, 0.0f, 0.5f);

    // The next piece goes into the first free rectangle, beside the last.
    Texture::insertIntoAtlas(atlas, piece(32, 32, 4), untouched, placed);
    EXPECT_EQ(size(atlas).Height, 128u);
    expectMatrix(placed, 0.25f, 0.25f, 0.25f, 0.5f);
    EXPECT_EQ(untouched[0], 7.0f);

    EXPECT_EQ(holder.texture(), atlas.texture());
    const Level level = readLevel(atlas);
    expectPiece(level, {0, 0, 64, 64, 1});
    expectPiece(level, {64, 0, 64, 64, 2});
    expectPiece(level, {0, 64, 32, 32, 3});
    expectPiece(level, {32, 64, 32, 32, 4});
}

TEST_F(TextureAtlas, RandomPiecesNeverOverlapAndKeepTheirTexels)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<uint32_t> side(2, 40);
    TextureRef atlas;
    ASSERT_TRUE(Texture::duplicate(piece(24, 16, 0), atlas));
    std::vector<Placed> pieces{{0, 0, 24, 16, 0}};
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        const uint32_t w = side(random), h = side(random);
        float m[9] = {};
        Texture::insertIntoAtlas(atlas, piece(w, h, seed), nullptr, m);
        const D3DSURFACE_DESC s = size(atlas);
        ASSERT_FLOAT_EQ(m[0] * float(s.Width), float(w)) << "piece " << seed << " was not placed";
        pieces.push_back({uint32_t(std::lround(m[6] * float(s.Width))), uint32_t(std::lround(m[7] * float(s.Height))),
                          w, h, seed});
    }
    const D3DSURFACE_DESC s = size(atlas);
    EXPECT_LE(s.Width * s.Height, 4u * 256u * 256u);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Placed& a = pieces[i];
        EXPECT_LE(a.x + a.width, s.Width);
        EXPECT_LE(a.y + a.height, s.Height);
        for (size_t j = i + 1; j < pieces.size(); ++j) {
            const Placed& b = pieces[j];
            const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y ||
                               b.y + b.height <= a.y;
            EXPECT_TRUE(apart) << "pieces " << a.seed << " and " << b.seed << " overlap";
        }
    }
    const Level level = readLevel(atlas);
    for (const Placed& p : pieces)
        expectPiece(level, p);
}

TEST_F(TextureAtlas, PiecesOfAnotherFormatAreConvertedOrIgnored)
{
    TextureRef atlas;
    ASSERT_TRUE(Texture::duplicate(piece(16, 16, 0), atlas));
    Texture::insertIntoAtlas(atlas, piece(16, 16, 1), nullptr, nullptr); // 32 x 16
    Texture::insertIntoAtlas(atlas, piece(8, 8, 2), nullptr, nullptr);   // 32 x 32, free space beside it
    ASSERT_EQ(size(atlas).Width, 32u);
    ASSERT_EQ(size(atlas).Height, 32u);

    // A 16-bit piece that fits is converted into the atlas's texels.
    TextureRef narrow;
    ASSERT_TRUE(Texture::create(narrow, String(L"narrow"), 8, 8, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED));
    writeLevel(narrow.texture()->texture, [](uint32_t x, uint32_t) { return x % 2 ? 0xF800u : 0x001Fu; });
    float m[9] = {};
    Texture::insertIntoAtlas(atlas, narrow, nullptr, m);
    const uint32_t x0 = uint32_t(std::lround(m[6] * 32)), y0 = uint32_t(std::lround(m[7] * 32));
    ASSERT_EQ(x0, 8u);
    ASSERT_EQ(y0, 16u);
    const Level level = readLevel(atlas);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            EXPECT_EQ(level.at(x0 + x, y0 + y), x % 2 ? 0xFFFF0000u : 0xFF0000FFu) << x << "," << y;

    // One that does not fit is not a reason to grow.
    TextureRef large;
    ASSERT_TRUE(Texture::create(large, String(L"large"), 32, 32, 1, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED));
    Texture::insertIntoAtlas(atlas, large, nullptr, nullptr);
    EXPECT_EQ(size(atlas).Width, 32u);
    EXPECT_EQ(size(atlas).Height, 32u);
}

}
