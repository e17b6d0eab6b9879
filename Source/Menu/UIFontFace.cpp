// A face's GDI font, its cell metrics and its glyphs: measured, drawn into
// the font's bitmap and copied as 16-bit texels into its layers.
#include "Menu/UIFont.h"

#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace UserInterface {

namespace {

constexpr int32_t bitmapSide = UIFont::bitmapSize;

// The text's intensity at (x, y): the red byte of white text on a black
// background; nothing outside the bitmap.
int32_t intensity(const uint32_t* bitmap, int32_t x, int32_t y)
{
    if (x < 0 || y < 0 || x >= bitmapSide || y >= bitmapSide)
        return 0;
    return int32_t(bitmap[y * bitmapSide + x] >> 16 & 0xFF);
}

// The shadow's blur: a 5 x 5 neighbourhood without its corners, weights
// summing to 48.
constexpr int32_t blurWeights[5][5] = {{0, 1, 2, 1, 0}, //
                                       {1, 2, 4, 2, 1},
                                       {2, 4, 8, 4, 2},
                                       {1, 2, 4, 2, 1},
                                       {0, 1, 2, 1, 0}};

}

UIFont::Face::Face(UIFont* owner) : font(owner) {}

UIFont::Face::~Face()
{
    for (Layer*& layer : layers) {
        delete layer;
        layer = nullptr;
    }
    if (hfont)
        DeleteObject(hfont);
}

void UIFont::Face::setStyle(uint32_t styleFlags, int32_t pointSizeGiven, int32_t givenFixedAdvance,
                            intvec2d shadowOffset)
{
    flags = styleFlags;
    pointSize = pointSizeGiven;
    shadow = flags & dropShadow ? 1 : 0;
    fixedPitch = flags & fixedPitchFlag ? 1 : 0;
    fixedAdvance = givenFixedAdvance == -1 ? 0.8f * float(pointSize) : float(givenFixedAdvance);

    const int32_t pad = shadow ? 4 : 2;
    const int32_t half = pad / 2;
    cellPadX = cellPadY = pad;
    shadowLeft = shadowTop = glyphLeft = glyphTop = half;
    if (!shadow)
        return;
    // The shadow lies dx right of and dy above the glyph body; a body that
    // would leave the cell on the left or top widens the cell instead.
    glyphLeft = half - shadowOffset.x;
    glyphTop = half + shadowOffset.y;
    if (glyphLeft < 0) {
        cellPadX = pad - glyphLeft;
        shadowLeft = half - glyphLeft;
        glyphLeft = 0;
    }
    if (glyphTop < 0) {
        cellPadY = pad - glyphTop;
        shadowTop = half - glyphTop;
        glyphTop = 0;
    }
    cellPadX = std::max(cellPadX, glyphLeft);
    cellPadY = std::max(cellPadY, glyphTop);
}

void UIFont::Face::setHeight(int32_t textHeight)
{
    ascentHeight = textHeight;
    lineHeight = float(textHeight);
    cellHeight = textHeight + cellPadY;
    cellHeightF = float(cellHeight);
    lastWidth = -1;
    lastCellWidth = -1;
}

void UIFont::Face::init(const String& faceName, int32_t points, int32_t fontWeight, uint32_t styleFlags,
                        int32_t givenFixedAdvance, intvec2d shadowOffset, float exponent,
                        COLORREF backgroundColour)
{
    CRASH_TRACE();
    name = faceName.buffer() ? faceName : String(L"");
    weight = fontWeight;
    shadowExponent = exponent;
    background = backgroundColour;
    setStyle(styleFlags, points, givenFixedAdvance, shadowOffset);
    // The character height in pixels at 96 dots per inch.
    hfont = CreateFontW(-MulDiv(points, 96, 72), 0, 0, 0, flags & bold ? FW_BOLD : fontWeight,
                        flags & italic ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, PROOF_QUALITY, VARIABLE_PITCH, name.text());
    if (!hfont || !font || !font->dc)
        return;
    SelectObject(font->dc, hfont);
    TEXTMETRICW metrics{};
    if (!GetTextMetricsW(font->dc, &metrics))
        return;
    setHeight(metrics.tmHeight);
    if (!addLayer())
        return;
    for (wchar_t c = 32; c <= 126; ++c)
        addGlyph(c);
}

bool UIFont::Face::addLayer()
{
    const int32_t next = currentLayer + 1;
    if (next >= maxLayers)
        return false;
    Layer* layer = new (std::nothrow) Layer;
    if (!layer)
        return false;
    // Without a device the layer has no texture: its glyphs are laid out
    // but not drawn.
    if (Texture::create(layer->texture, name, layerSize, layerSize, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED)) {
        // Filtered glyphs sample their neighbours: the space between cells
        // is transparent.
        TextureDevice::LevelLock lock(layer->texture.texture()->texture, 0);
        for (int32_t y = 0; lock.ok() && y < layerSize; ++y)
            std::memset(lock.row(uint32_t(y)), 0, size_t(layerSize) * 2);
    }
    layers[next] = layer;
    currentLayer = next;
    return true;
}

void UIFont::Face::addGlyph(wchar_t c)
{
    if (currentLayer < 0 || !hfont || !font || !font->dc)
        return;
    Map* entry = map.at(int32_t(uint16_t(c)));
    if (!entry || entry->layer != noGlyph)
        return;
    // A cell taller than a layer fits on none.
    if (cellHeight > layerSize)
        return;
    SelectObject(font->dc, hfont);
    SIZE extent{};
    if (!GetTextExtentPoint32W(font->dc, &c, 1, &extent))
        extent.cx = 0;
    lastWidth = extent.cx;
    lastCellWidth = lastWidth + cellPadX;

    Layer* layer = layers[currentLayer];
    if (layer->penX + lastCellWidth > layerSize) {
        layer->penX = 0;
        layer->penY += cellHeight;
    }
    if (layer->penY + cellHeight > layerSize) {
        // A face whose last layer is full takes no more glyphs.
        if (currentLayer >= maxLayers - 1 || !addLayer())
            return;
        layer = layers[currentLayer];
    }
    const uint16_t index = layer->rasterize(*this, c);
    entry->layer = uint8_t(currentLayer);
    entry->index = index;
}

const UIFont::Face::TexCoord* UIFont::Face::glyph(wchar_t c, int32_t* layerIndex)
{
    const int32_t code = int32_t(uint16_t(c));
    if (code >= map.count())
        return nullptr;
    const Map& entry = *map.at(code);
    if (entry.layer == noGlyph) // the only byte past the last layer
        return nullptr;
    Layer* layer = layers[entry.layer];
    if (!layer || entry.index >= layer->count)
        return nullptr;
    if (layerIndex)
        *layerIndex = entry.layer;
    return layer->records.at(entry.index);
}

uint16_t UIFont::Face::cellTexel(const uint32_t* bitmap, int32_t c, int32_t r) const
{
    if (!shadow) {
        const uint32_t alpha = uint32_t(intensity(bitmap, c, r - shadowTop)) >> 4;
        return alpha ? uint16_t(alpha << 12 | 0x0FFF) : 0;
    }
    const int32_t g = intensity(bitmap, c - glyphLeft, r - glyphTop) >> 4;
    const int32_t sx = c - shadowLeft, sy = r - shadowTop;
    int32_t sum = 0;
    for (int32_t j = 0; j < 5; ++j)
        for (int32_t i = 0; i < 5; ++i)
            if (blurWeights[j][i])
                sum += blurWeights[j][i] * intensity(bitmap, sx + i - 2, sy + j - 2);
    const int32_t s = sum >> 3;
    const int32_t a = std::min(int32_t(floatPow(float(s), shadowExponent)), 15);
    if (a < 1 && g == 0)
        return 0;
    // The body (grey to white) covers its own black shadow.
    const uint32_t alpha = uint32_t((a * (15 - g) + g * g) & 0xF0) >> 4;
    const uint32_t grey = uint32_t(g);
    return uint16_t(alpha << 12 | grey << 8 | grey << 4 | grey);
}

uint16_t UIFont::Face::Layer::rasterize(Face& face, wchar_t c)
{
    UIFont& font = *face.font;
    TexCoord* entry = records.at(count);
    if (!entry)
        return count; // out of memory: an index past count finds no glyph
    std::memset(font.bits, 0, size_t(bitmapSide) * bitmapSide * 4);
    SetBkColor(font.dc, face.background);
    ExtTextOutW(font.dc, 0, 0, ETO_OPAQUE, nullptr, &c, 1, nullptr);
    GdiFlush();
    copyGlyph(face, font.bits);

    constexpr float s = float(layerSize);
    constexpr float half = 0.5f / s;
    TexCoord& record = *entry;
    record.uLeft = float(penX) / s;
    record.vTop = float(penY) / s;
    record.uRight = float(penX + face.lastCellWidth) / s - half;
    record.vBottom = float(penY + face.cellHeight) / s;
    record.width = float(face.lastWidth);
    record.advance = float(face.lastCellWidth);
    record.lead = floorFloat((face.fixedAdvance - record.width) * 0.5f);
    record.trail = face.fixedAdvance - record.lead;
    penX += face.lastCellWidth;
    return count++;
}

void UIFont::Face::Layer::copyGlyph(const Face& face, const uint32_t* bitmap)
{
    IDirect3DTexture9* target = texture.isBound() ? texture.texture()->texture : nullptr;
    // A glyph larger than the bitmap or reaching past the layer is clipped.
    const int32_t width = std::min({face.lastCellWidth, bitmapSide, layerSize - penX});
    const int32_t height = std::min({face.cellHeight, bitmapSide, layerSize - penY});
    if (!target || width <= 0 || height <= 0)
        return;
    RECT cell{penX, penY, penX + width, penY + height};
    D3DLOCKED_RECT locked{};
    if (FAILED(target->LockRect(0, &locked, &cell, 0)) || !locked.pBits)
        return;
    for (int32_t r = 0; r < height; ++r) {
        auto* row = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(locked.pBits) + size_t(r) * locked.Pitch);
        for (int32_t c = 0; c < width; ++c)
            row[c] = face.cellTexel(bitmap, c, r);
    }
    target->UnlockRect(0);
}

}
