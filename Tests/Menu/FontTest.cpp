// Faces: their cell margins and the texels a glyph bitmap becomes (no
// device needed), then real GDI faces on the test device: font height,
// packing into rows and layers, glyphs too large for the bitmap or a
// layer, and the layer limit.
#include "MenuTestSupport.h"

#include "../Render/TestDevice.h"

#include "Menu/UIFont.h"

#include <algorithm>
#include <cmath>
#include <vector>

using UserInterface::UIFont;
using Face = UserInterface::UIFont::Face;

namespace {

TEST(FontFace, CellMarginsMakeRoomForTheShadow)
{
    struct Case
    {
        const char* what;
        uint32_t flags;
        intvec2d offset;
        int padX, padY, shadowLeft, shadowTop, glyphLeft, glyphTop;
    };
    const Case cases[] = {
        {"no shadow", 0, {3, 1}, 2, 2, 1, 1, 1, 1},
        {"shadow right and up", Face::dropShadow, {3, 1}, 5, 4, 3, 2, 0, 3},
        {"shadow left and down", Face::dropShadow, {-2, -4}, 4, 6, 2, 4, 4, 0},
        {"shadow far down", Face::dropShadow, {0, 5}, 4, 7, 2, 2, 2, 7},
    };
    for (const Case& c : cases) {
        Face face;
        face.setStyle(c.flags, 24, -1, c.offset);
        EXPECT_EQ(face.cellPadX, c.padX) << c.what;
        EXPECT_EQ(face.cellPadY, c.padY) << c.what;
        EXPECT_EQ(face.shadowLeft, c.shadowLeft) << c.what;
        EXPECT_EQ(face.shadowTop, c.shadowTop) << c.what;
        EXPECT_EQ(face.glyphLeft, c.glyphLeft) << c.what;
        EXPECT_EQ(face.glyphTop, c.glyphTop) << c.what;
    }
    Face face;
    face.setStyle(Face::fixedPitchFlag, 20, -1, {});
    EXPECT_EQ(face.fixedAdvance, 16.0f);
    EXPECT_EQ(face.fixedPitch, 1u);
    EXPECT_EQ(face.shadow, 0u);
    face.setStyle(0, 20, 12, {});
    EXPECT_EQ(face.fixedAdvance, 12.0f);
    face.setHeight(29);
    EXPECT_EQ(face.cellHeight, 31);
    EXPECT_EQ(face.lineHeight, 29.0f);
}

TEST(FontFace, GlyphTexelsComeFromTheBitmapAndItsBlurredShadow)
{
    std::vector<uint32_t> bitmap(UIFont::bitmapSize * UIFont::bitmapSize, 0);
    const auto set = [&](int x, int y, uint32_t red) { bitmap[size_t(y * UIFont::bitmapSize + x)] = red << 16 | 0x77; };
    set(10, 10, 255);
    set(11, 10, 128);

    Face plain;
    plain.setStyle(0, 24, -1, {});
    // White, the text's intensity as alpha, one row down; nothing outside.
    EXPECT_EQ(plain.cellTexel(bitmap.data(), 10, 11), 0xFFFF);
    EXPECT_EQ(plain.cellTexel(bitmap.data(), 11, 11), 0x8FFF);
    EXPECT_EQ(plain.cellTexel(bitmap.data(), 12, 11), 0);
    EXPECT_EQ(plain.cellTexel(bitmap.data(), 10, 0), 0);
    EXPECT_EQ(plain.cellTexel(bitmap.data(), 200, 11), 0);

    Face shadowed;
    shadowed.setStyle(Face::dropShadow, 24, -1, {3, 1}); // shadow at (3, 2), body at (0, 3)
    shadowed.shadowExponent = 0.5f;
    struct Case
    {
        int c, r;
        uint16_t texel;
        const char* sums;
    };
    const Case cases[] = {
        // Blur at (10, 10): 8 x 255 + 4 x 128 = 2552, >> 3 = 319, sqrt
        // beyond 15; no body: alpha (15 x 15) & 0xF0 >> 4 = 14, black.
        {13, 12, 0xE000, "shadow centre"},
        // Blur at (12, 12): (11, 10) is one across and two up: 1 x 128,
        // >> 3 = 16, sqrt 4; alpha (4 x 15 = 60) & 0xF0 >> 4 = 3.
        {15, 14, 0x3000, "shadow edge"},
        // (10, 10) is two steps from the blur's corner: weight 0.
        {15, 15, 0, "outside the blur"},
        // Body 255 >> 4 = 15 covers everything: alpha 225 & 0xF0 >> 4 = 14.
        {10, 13, 0xEFFF, "body"},
        // Body 8; blur at (8, 11): (10, 10) two across, one down: 255,
        // >> 3 = 31, sqrt 5.57: a 5; alpha (5 x 7 + 64) & 0xF0 >> 4 = 6.
        {11, 13, 0x6888, "body over its shadow"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shadowed.cellTexel(bitmap.data(), c.c, c.r), c.texel) << c.sums;
}

// Real faces on the device of the test window.
class FontDevice : public TestDevice::DeviceSuite
{
protected:
    static UIFont& font() { return *UIFont::global(); }

    static Face* face(int points, uint32_t flags = 0, intvec2d shadow = {}, const wchar_t* name = L"Arial")
    {
        return font().createFace(String(name), points, 400, flags, -1, shadow, 0.3f, 0);
    }

    // Texel (x, y) of a layer's texture.
    static uint32_t texel(const TestDevice::Level& level, int x, int y)
    {
        return level.at(uint32_t(x), uint32_t(y)) & 0xFFFF;
    }
};

TEST_F(FontDevice, FacesAreMadeAtNinetySixDotsPerInch)
{
    ASSERT_NE(UIFont::global(), nullptr);
    ASSERT_NE(font().dc, nullptr);
    Face* f = face(19, Face::bold | Face::italic);
    ASSERT_NE(f, nullptr);
    LOGFONTW described{};
    ASSERT_NE(GetObjectW(f->hfont, sizeof(described), &described), 0);
    EXPECT_EQ(described.lfHeight, -25);
    EXPECT_EQ(described.lfWeight, 700);
    EXPECT_TRUE(described.lfItalic);
    EXPECT_EQ(f->cellHeight, f->ascentHeight + 2);
    EXPECT_GE(f->ascentHeight, 25);
    // The printable ASCII characters are there at once; others on demand.
    for (wchar_t c = 32; c <= 126; ++c)
        ASSERT_NE(f->glyph(c), nullptr) << int(c);
    EXPECT_EQ(f->glyph(L'\u00F6'), nullptr);
    f->addGlyph(L'\u00F6');
    ASSERT_NE(f->glyph(L'\u00F6'), nullptr);
    EXPECT_GT(f->glyph(L'\u00F6')->width, 5.0f);
    font().releaseFace(f);
    EXPECT_EQ(font().faces.count(), 0);
}

TEST_F(FontDevice, GlyphsFillRowsThenLayers)
{
    Face* f = face(48);
    ASSERT_NE(f, nullptr);
    ASSERT_GE(f->currentLayer, 1) << "48 points need more than one layer";
    const float s = float(UIFont::layerSize);
    for (int l = 0; l <= f->currentLayer; ++l) {
        Face::Layer& layer = *f->layers[l];
        ASSERT_GT(layer.count, 0);
        const Face::TexCoord& first = *layer.records.at(0);
        EXPECT_EQ(first.uLeft, 0.0f) << "a layer starts at its top-left";
        EXPECT_EQ(first.vTop, 0.0f);
        for (int i = 0; i < layer.count; ++i) {
            const Face::TexCoord& r = *layer.records.at(i);
            // The cell lies inside the layer.
            EXPECT_LE(r.uLeft * s + r.advance, s) << l << " " << i;
            EXPECT_LE(r.vTop * s + float(f->cellHeight), s) << l << " " << i;
            EXPECT_FLOAT_EQ(r.vBottom - r.vTop, float(f->cellHeight) / s);
            EXPECT_FLOAT_EQ((r.uRight - r.uLeft) * s, r.advance - 0.5f);
            if (i == 0)
                continue;
            const Face::TexCoord& p = *layer.records.at(i - 1);
            if (r.vTop == p.vTop) {
                EXPECT_FLOAT_EQ(r.uLeft * s, p.uLeft * s + p.advance); // next on the row
            } else {
                // A new row: the glyph did not fit behind the previous one.
                EXPECT_EQ(r.uLeft, 0.0f);
                EXPECT_FLOAT_EQ((r.vTop - p.vTop) * s, float(f->cellHeight));
                EXPECT_GT(p.uLeft * s + p.advance + r.advance, s);
            }
        }
        if (l > 0) {
            // The layer before was full: no row was left for this glyph.
            Face::Layer& before = *f->layers[l - 1];
            const Face::TexCoord& last = *before.records.at(before.count - 1);
            EXPECT_GT(last.vTop * s + 2.0f * float(f->cellHeight), s);
        }
    }
    font().releaseFace(f);
}

TEST_F(FontDevice, GlyphsLargerThanTheBitmapAreClippedAndCellsTallerThanALayerGetNone)
{
    Face* tall = face(200);
    ASSERT_NE(tall, nullptr);
    EXPECT_GT(tall->cellHeight, UIFont::layerSize);
    EXPECT_EQ(tall->glyph(L'A'), nullptr);
    EXPECT_EQ(tall->currentLayer, 0);
    EXPECT_EQ(tall->layers[0]->count, 0);

    Face* large = face(110);
    ASSERT_NE(large, nullptr);
    ASSERT_GT(large->cellHeight, UIFont::bitmapSize);
    int32_t layerIndex = -1;
    const Face::TexCoord* w = large->glyph(L'W', &layerIndex);
    ASSERT_NE(w, nullptr);
    ASSERT_GT(w->advance, float(UIFont::bitmapSize));
    const TestDevice::Level level = TestDevice::readLevel(large->layers[layerIndex]->texture);
    ASSERT_EQ(level.width, 256u);
    const int left = int(w->uLeft * 256.0f), top = int(w->vTop * 256.0f);
    int inked = 0, beyond = 0;
    for (int y = top; y < std::min(top + large->cellHeight, 256); ++y)
        for (int x = left; x < std::min(left + int(w->advance), 256); ++x) {
            const bool ink = (texel(level, x, y) >> 12) != 0;
            if (x - left >= UIFont::bitmapSize || y - top >= UIFont::bitmapSize)
                beyond += ink;
            else
                inked += ink;
        }
    EXPECT_GT(inked, 500);
    EXPECT_EQ(beyond, 0);
    font().releaseFace(tall);
    font().releaseFace(large);
}

TEST_F(FontDevice, AFaceWithItsLastLayerFullTakesNoMoreGlyphs)
{
    for (int last : {UIFont::Face::maxLayers - 2, UIFont::Face::maxLayers - 1}) {
        Face* f = face(12);
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(f->currentLayer, 0);
        // As if the face had filled its layers up to this one.
        std::swap(f->layers[0], f->layers[last]);
        f->currentLayer = last;
        f->layers[last]->penY = UIFont::layerSize;
        f->addGlyph(L'\u00E4');
        if (last == UIFont::Face::maxLayers - 1) {
            EXPECT_EQ(f->glyph(L'\u00E4'), nullptr);
            EXPECT_EQ(f->currentLayer, last);
        } else {
            int32_t layer = -1;
            ASSERT_NE(f->glyph(L'\u00E4', &layer), nullptr);
            EXPECT_EQ(layer, last + 1);
            EXPECT_EQ(f->glyph(L'\u00E4')->uLeft, 0.0f);
        }
        font().releaseFace(f);
    }
}

TEST_F(FontDevice, AShadowedGlyphIsABrightBodyOverADarkShadowToItsRight)
{
    Face* f = face(24, Face::dropShadow, {3, 1});
    ASSERT_NE(f, nullptr);
    int32_t layerIndex = -1;
    const Face::TexCoord* g = f->glyph(L'I', &layerIndex);
    ASSERT_NE(g, nullptr);
    const TestDevice::Level level = TestDevice::readLevel(f->layers[layerIndex]->texture);
    const int left = int(g->uLeft * 256.0f), top = int(g->vTop * 256.0f);
    int bodyRight = -1, shadowRight = -1, shadowTexels = 0;
    for (int y = top; y < top + f->cellHeight; ++y)
        for (int x = left; x < left + int(g->advance); ++x) {
            const uint32_t t = texel(level, x, y);
            if (t >> 12 == 0)
                continue;
            if ((t & 0xF) >= 12)
                bodyRight = std::max(bodyRight, x - left);
            if ((t & 0xFFF) == 0) {
                shadowRight = std::max(shadowRight, x - left);
                ++shadowTexels;
            }
        }
    EXPECT_GT(shadowTexels, 10);
    ASSERT_GE(bodyRight, 0);
    EXPECT_GE(shadowRight, bodyRight + 2);
    font().releaseFace(f);
}

}
