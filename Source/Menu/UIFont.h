#pragma once
// Fonts rasterised at run time: each character a text needs is drawn once
// with GDI into a small bitmap, turned into a 16-bit texel block (with an
// optional soft drop shadow) and packed into 256 x 256 glyph textures, the
// layers of its face. Texts then draw every character as a textured
// rectangle through the font's shared dynamic vertex buffers.
//
// One global font object (initGlobals at start-up, exitGlobals at exit);
// every static hook does nothing without it. The render device calls the
// device hooks: the GDI surface, buffers and state blocks come with the
// device, the vertex buffers and state blocks (default pool) are released
// and made again around a reset, while the glyph layers (managed) survive
// it. Faces live until the device goes. Main thread only.

#include <TextureRecord.h>

#include "Core/DynArray.h"
#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

namespace UserInterface {

class UIFont
{
public:
    class Face;

    // Glyph rectangles on the screen and in the world.
    struct ScreenVertex
    {
        float x, y, z, rhw;
        float u, v;
        static constexpr DWORD format = D3DFVF_XYZRHW | D3DFVF_TEX1;
    };
    struct WorldVertex
    {
        float x, y, z;
        float u, v;
        static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_TEX1;
    };

    // A dynamic vertex buffer written in batches of batchSize vertices: a
    // batch is locked (discarding at the buffer's start, without overwrite
    // further on), filled, drawn with the shared index buffer, and the next
    // batch starts after it.
    struct VertexBuffer
    {
        IDirect3DVertexBuffer9* buffer = nullptr;
        uint8_t* locked = nullptr;
        uint32_t batchSize = 1024;
        uint32_t start = 0;
        uint32_t capacity = 1024;
        uint32_t written = 0;
        uint32_t triangles = 0;
        uint32_t stride = 0;
        DWORD format = 0;

        // False (nothing locked) without a buffer or when the lock fails.
        bool lockBatch();
        // Unlocks and draws what the batch holds with indices, then moves on.
        void flush(IDirect3DIndexBuffer9* indices);
    };

    static constexpr int32_t layerSize = 256;
    static constexpr int32_t bitmapSize = 128;
    // Rectangles of the index buffer; a batch holds one fewer glyph.
    static constexpr uint32_t indexRectangles = 256;

    UIFont();
    ~UIFont();
    UIFont(const UIFont&) = delete;
    UIFont& operator=(const UIFont&) = delete;

    // The global font; null before initGlobals and after exitGlobals.
    static UIFont* global() { return global_; }
    static void initGlobals();
    // Releases every face, the buffers and the GDI surface.
    static void exitGlobals();

    // Device creation: the GDI surface (a 128 x 128 32-bit DIB section
    // with white text), the vertex buffers with the text state blocks, and
    // the index buffer of rectangles.
    static void onDeviceCreate();
    // Device release: every face, the buffers, the blocks, the surface.
    static void onDeviceRelease();
    // Around a reset: the default-pool buffers and the two state blocks.
    static void createVertexBuffers();
    static void releaseVertexBuffers();

    // Always a new face (no look-up of an equal one), appended to the list;
    // flags: Face::bold, italic, dropShadow, fixedPitch. fixedAdvance -1
    // takes 0.8 x pointSize. A face whose GDI font cannot be made (or made
    // before the device) draws nothing. Null only when memory runs out.
    Face* createFace(const String& name, int32_t pointSize, int32_t weight, uint32_t flags, int32_t fixedAdvance,
                     intvec2d shadowOffset, float shadowExponent, COLORREF background);
    // Unlinks face from the list and frees it with its layers and map.
    void releaseFace(Face* face);
    void releaseFaces();

    VertexBuffer vertexBuffer2D;
    VertexBuffer vertexBuffer3D;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    // Recorded with the same text states: the first is captured before a
    // text draws and applied after it, the second applied for the draw.
    IDirect3DStateBlock9* stateBlockSaved = nullptr;
    IDirect3DStateBlock9* stateBlockText = nullptr;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    // bitmapSize x bitmapSize pixels, rows top to bottom, bytes blue,
    // green, red, unused.
    uint32_t* bits = nullptr;
    SCList<Face> faces;

private:
    void dropVertexBuffers();
    void releaseDeviceBuffers();
    void releaseSurface();

    static UIFont* global_;
};
static_assert(sizeof(UIFont::ScreenVertex) == 24);
static_assert(sizeof(UIFont::WorldVertex) == 20);

class UIFont::Face
{
public:
    static constexpr uint32_t bold = 1;
    static constexpr uint32_t italic = 2;
    static constexpr uint32_t dropShadow = 4;
    static constexpr uint32_t fixedPitchFlag = 8;
    static constexpr int32_t maxLayers = 255;
    static constexpr uint8_t noGlyph = 0xFF;
    static_assert(noGlyph == maxLayers, "a map entry names a layer or no glyph");

    // Where a character's glyph lies: its layer and its record there.
    struct Map
    {
        uint8_t layer = noGlyph;
        uint16_t index = 0;
    };

    // A glyph's cell in texture coordinates, the character's own width,
    // the cell width with its margins (advance), and where a fixed-pitch
    // face places it in its fixed advance (lead before, trail after).
    struct TexCoord
    {
        float uLeft, vTop, uRight, vBottom;
        float width, advance, lead, trail;
    };

    // One glyph texture (A4R4G4B4, managed) with the cells placed on it so
    // far; the pen is the top-left of the next cell.
    class Layer
    {
    public:
        TextureRef texture;
        DynArray<TexCoord> records{16};
        uint16_t count = 0;
        int32_t penX = 0;
        int32_t penY = 0;

        // Draws character c into the GDI bitmap, copies the cell into the
        // texture at the pen and appends its record. Returns its index.
        uint16_t rasterize(Face& face, wchar_t c);
        // The cell at the pen from bitmap (bitmapSize squared pixels),
        // clipped to the bitmap and to the layer.
        void copyGlyph(const Face& face, const uint32_t* bitmap);
    };

    // A face of no font: no layers, no glyphs until a test or a caller
    // places them by hand.
    explicit Face(UIFont* owner = nullptr);
    ~Face();
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    // Makes the GDI font, reads its metrics and rasterises characters 32
    // to 126 into a first layer. Without the font (or the owner's surface)
    // the face keeps no layers.
    void init(const String& faceName, int32_t points, int32_t fontWeight, uint32_t styleFlags,
              int32_t givenFixedAdvance, intvec2d shadowOffset, float exponent, COLORREF backgroundColour);
    // The flags' shadow and pitch switches, the fixed advance and the cell
    // margins around a glyph and its shadow.
    void setStyle(uint32_t styleFlags, int32_t pointSizeGiven, int32_t givenFixedAdvance, intvec2d shadowOffset);
    // The line metrics from the font's height.
    void setHeight(int32_t textHeight);

    // Gives c a glyph when it has none and the face still takes glyphs.
    void addGlyph(wchar_t c);
    // c's glyph record and its layer index, or null when c has none.
    const TexCoord* glyph(wchar_t c, int32_t* layerIndex = nullptr);

    // Texel (c, r) of a glyph cell from bitmap (red bytes are the text's
    // intensity), A4R4G4B4: white with the text as alpha, or with a shadow
    // grey-to-white text over its black, blurred shadow.
    uint16_t cellTexel(const uint32_t* bitmap, int32_t c, int32_t r) const;

    UIFont* font = nullptr;
    SCList<Face>::Node* node = nullptr;
    String name;
    uint32_t flags = 0;
    HFONT hfont = nullptr;
    // Behind a character while it is drawn; its red must be 0 for the
    // space around the character to stay transparent.
    COLORREF background = 0;
    int32_t pointSize = 0;
    int32_t weight = 0;
    Layer* layers[maxLayers] = {};
    int32_t currentLayer = -1;
    DynArray<Map> map{128};
    uint32_t shadow = 0;
    uint32_t fixedPitch = 0;
    float shadowExponent = 0.0f;
    int32_t shadowLeft = 0;
    int32_t shadowTop = 0;
    int32_t glyphLeft = 0;
    int32_t glyphTop = 0;
    int32_t cellPadX = 0;
    int32_t cellPadY = 0;
    int32_t ascentHeight = 0;
    int32_t lastWidth = -1;
    int32_t cellHeight = 0;
    int32_t lastCellWidth = -1;
    float lineHeight = 0.0f;
    float cellHeightF = 0.0f;
    float fixedAdvance = 0.0f;

private:
    // A new empty layer after the current one; false when none can be had.
    bool addLayer();
};

}
