#pragma once
// The text widget: a string in one face of the run-time fonts, laid out
// into lines (word wrapping at a pixel width, hard breaks, a line limit with
// an ellipsis), each line aligned in the layout box, every character drawn
// as a textured rectangle through the font's shared vertex buffers, on the
// screen or, for world-space texts, through a world matrix. Every menu label
// and control and the head-up display's texts are texts. Main thread only.

#include "Menu/UIFont.h"
#include "Menu/Widget.h"

#include "Core/ArrayHeap.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/String.h"

#include <cstdint>

namespace UserInterface {

class Text : public Widget
{
public:
    static constexpr int32_t bufferSize = 512; // 511 characters and the NUL
    static constexpr uint32_t alignLeft = 0;
    static constexpr uint32_t alignCentre = 1;
    static constexpr uint32_t alignRight = 2;

    // One layout event at a character.
    struct Formatting
    {
        static constexpr uint32_t newLine = 0; // a new line starts here
        static constexpr uint32_t hidden = 1;  // not drawn
        static constexpr uint32_t fullStop = 2; // drawn as "."
        uint16_t position = 0;
        uint32_t kind = 0;
    };

    // Empty and changed, linked into owner's list at layer. wrapWidth > 0
    // wraps lines at that many pixels; a negative one also leaves lines
    // unaligned. maxLines -1: no limit.
    Text(D3D::Device::SwapChain* owner, UIFont::Face* face, int32_t layer, int32_t wrapWidth, int32_t maxLines,
         float targetOpacity, float fadeSpeed);
    ~Text() override;

    // Copies at most 511 characters of text (a null text is empty), marks
    // the text changed and lays it out.
    void setText(const String& text);
    // Lays the text out when it changed (or the root asks every text to):
    // the formatting records, the line widths and the box. Characters the
    // face has no glyph for take no room.
    void calc();
    // The character at index with its advance when the face has (or can
    // make) its glyph; 0 with advance untouched when it has none.
    wchar_t getChar(int32_t index, int32_t& advance);
    // Where line starts inside the box: 0 without alignment (or for a
    // negative wrapWidth), else the centring or right-alignment offset.
    float lineOffset(int32_t line);

    // The stored text (empty when its buffer could not be had).
    const wchar_t* text() { return buffer.data() ? buffer.data() : L""; }

    Rect getRect() override;
    Size getSize() override;
    uint32_t isWorldSpace() override { return worldSpace; }
    void update() override { calc(); }
    void draw() override;
    // Hooks at the start and the end of draw, for classes that draw around
    // the glyphs.
    virtual void beforeDraw() {}
    virtual void afterDraw() {}

    float scale = 1.0f;
    uint32_t alignment = alignLeft;
    float centreX = 0.0f;
    float centreY = 0.0f;
    float boxLeft = 0.0f;
    float boxTop = 0.0f;
    float boxRight = 0.0f;
    float boxBottom = 0.0f;
    // Glyph texture filter (point).
    uint32_t filter = D3DTEXF_POINT;
    uint32_t worldSpace = 0;
    // D3DRS_ZENABLE while the text draws.
    uint32_t zEnable = 0;
    // Alpha-tested glyphs (transparency supersampling where the driver has it).
    uint32_t alphaTest = 0;
    matrix3d world = matrix3d::identity();
    ArrayHeap<wchar_t> buffer{bufferSize};
    uint32_t changed = 1;
    DynArray<Formatting> formatting{16};
    DynArray<int32_t> lineWidths{4};
    int32_t formattingCount = 0;
    int32_t lineCount = 0;
    // How many characters the draw walks: the length, or the cut of a text
    // that ends in an ellipsis.
    int32_t charCount = 0;
    int32_t maxLines = -1;
    int32_t wrapWidth = -1;
    // Extra distance between drawn lines (not part of the box).
    float lineSpacing = 0.0f;
    UIFont::Face* face = nullptr;
    // When set, x and y are offsets from that widget's rectangle, whose
    // alpha byte and enabled flag the text takes while it draws.
    Widget* attachedTo = nullptr;
    int32_t savedX = 0;
    int32_t savedY = 0;

private:
    void addFormatting(int32_t position, uint32_t kind);
    void addLine(int32_t width);
    // The room character index takes in a line: its advance, 0 for a
    // character without a glyph or a carriage return.
    int32_t advanceAt(int32_t index);
    // The pen's x at the start of line.
    float lineStartX(int32_t line);
    void bindLayer(int32_t layerIndex);
    // c's glyph, made when the face can make it; null without.
    const UIFont::Face::TexCoord* findGlyph(wchar_t c, int32_t* layerIndex = nullptr);
    // How far a glyph moves the pen in layout: the fixed advance of a
    // fixed-pitch face, else the character's width.
    int32_t glyphAdvance(const UIFont::Face::TexCoord& g) const;
};

}
