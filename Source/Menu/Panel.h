#pragma once
// The textured rectangle widget: a texture drawn at the widget's position
// and anchor, optionally cropped and moved by a texture transform, tinted
// and faded by the widget's colour, and tested against the pointer by the
// alpha of its texels. Menu screens are panels, and so are the head-up
// display's pictures. Main thread only.

#include "Menu/Widget.h"
#include "Render/Shader.h"

#include <TextureRecord.h>

#include <cstdint>

namespace UserInterface {

class Panel : public Widget
{
public:
    // The panel's states: its texture in slot 0 with the slot's addressing
    // (clamped) and texture transform, a filter and a blending switch.
    class Shader : public ::Shader
    {
    public:
        Shader();
        // Sets the panel states and binds the texture (none for an unbound
        // reference, so that a panel without a texture is a flat rectangle
        // in colour); colour tints the texture and scales its alpha.
        void begin(Color colour);
        // Back to the states the frame's passes expect.
        void end();

        uint32_t alphaBlend = 0;
        uint32_t filter = D3DTEXF_LINEAR;
    };

    // The pre-transformed, textured vertex of panels.
    struct Vertex
    {
        float x, y, z, rhw;
        float u, v;
        static constexpr DWORD format = D3DFVF_XYZRHW | D3DFVF_TEX1;
    };

    // Linked into owner's widget list at layer; no texture yet (0 x 0).
    Panel(D3D::Device::SwapChain* owner, int32_t layer, float targetOpacity, float fadeSpeed);
    ~Panel() override;

    // Binds texture into the shader and takes its level-0 size as the size
    // the panel is drawn at.
    void setTexture(const TextureRef& texture);
    // textureWidth and textureHeight from the bound texture's level 0;
    // 0 x 0 without one.
    void readTextureSize();

    // The rectangle and size of the last draw.
    Rect getRect() override { return rect; }
    Size getSize() override { return {rect.right - rect.left, rect.bottom - rect.top}; }
    uint32_t isPointerOutside() override;
    void draw() override;

    // 1 when (px, py) lies in the last drawn rectangle (edges included) over
    // a texel whose alpha is not 0. Textures whose alpha cannot be read
    // (locked, described or of a format without alpha) count as opaque.
    uint32_t hitTest(int32_t px, int32_t py);

    // Where the last draw put its corners, from the widget's fields; kept
    // apart from the drawing so that it can be checked without a device.
    struct Placement
    {
        float left, top, right, bottom; // at pixel edges (n - 0.5)
        float u[4], v[4];               // top-left, top-right, bottom-right, bottom-left
    };
    Placement place();

    Shader* shader = &ownShader;
    Shader ownShader;
    // Fractions of the texture cut away at each side.
    float cropLeft = 0.0f;
    float cropRight = 0.0f;
    float cropTop = 0.0f;
    float cropBottom = 0.0f;
    // A one-pixel white outline around the drawn rectangle.
    uint32_t outline = 0;
    // The size in screen pixels at which the whole texture is drawn.
    float textureWidth = 0.0f;
    float textureHeight = 0.0f;
    int32_t drawLeft = 0;
    int32_t drawTop = 0;
    // Where texel (0, 0) lies on the screen (the hit test's origin).
    int32_t textureLeft = 0;
    int32_t textureTop = 0;
    Rect rect;
    // When set, x and y are offsets from that widget's rectangle, whose
    // alpha byte and enabled flag the panel takes at each draw.
    Widget* attachedTo = nullptr;
    int32_t savedX = 0;
    int32_t savedY = 0;
};
static_assert(sizeof(Panel::Vertex) == 24);

}
