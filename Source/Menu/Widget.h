#pragma once
// The user interface's widgets: everything of the menus and the head-up
// display that is drawn in screen space on top of the scene. A widget is a
// plain heap object owned by whoever creates it; the swap chain's Root keeps
// a list of the widgets sorted by layer, and the user-interface pass at the
// end of each frame draws the enabled ones from the lowest layer up. A
// widget fades its own alpha in and out while it is drawn. Main thread only.

#include "Render/D3DDevice.h"

#include "Core/Color.h"
#include "Core/SCList.h"

#include <cstdint>

namespace UserInterface {

class Root;
class Widget;

// A rectangle in screen pixels; right and bottom are exclusive edges.
struct Rect
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct Size
{
    int32_t width = 0;
    int32_t height = 0;
};

// What every widget offers to the screens and the pass.
class WindowPaint
{
public:
    virtual ~WindowPaint() = default;
    virtual Rect getRect() = 0;
    virtual Size getSize() = 0;
    virtual void enable() = 0;
    virtual void disable() = 0;
    virtual uint32_t isWorldSpace() = 0;
    virtual void fadeIn() = 0;
    virtual void fadeOut() = 0;
    // 0 when the root's pointer lies over the widget.
    virtual uint32_t isPointerOutside() = 0;
    // Once per frame from the widget's owner (screens lay themselves out, a
    // text lays out a changed string).
    virtual void update() = 0;
    virtual void draw() = 0;
};

class Widget : public WindowPaint
{
public:
    // Fades: none, towards targetOpacity, towards 0 (then disabled).
    static constexpr uint32_t fadeNone = 0;
    static constexpr uint32_t fadeInMode = 1;
    static constexpr uint32_t fadeOutMode = 2;

    // Disabled, white with alpha 255, opacity 0; targetOpacity above 1 is
    // taken as 1. The widget is not yet in its root's list (addChild). An
    // owner without a root gives a widget that is never listed.
    Widget(D3D::Device::SwapChain* owner, float targetOpacity, float fadeSpeed);
    // Unlinks the widget from its root's list if it is still there.
    ~Widget() override;
    Widget(const Widget&) = delete;
    Widget& operator=(const Widget&) = delete;

    // Stores layer and links the widget into the root's list behind the
    // first widget of the same layer, keeping the list in ascending layer
    // order. A widget already listed is taken out first.
    void addChild(int32_t layer);

    void enable() override { enabled = 1; }
    void disable() override { enabled = 0; }
    uint32_t isWorldSpace() override { return 0; }
    // Both start from the current alpha byte: a widget that should appear
    // from nothing gets alpha 0 before fadeIn. fadeIn also enables it;
    // a fade-out disables it when it ends.
    void fadeIn() override;
    void fadeOut() override;
    uint32_t isPointerOutside() override { return 1; }
    void update() override {}
    // One step of a running fade, by the frame factor; nothing while the
    // root's pass is one that does not advance fades. Every widget's own
    // draw calls it first.
    void draw() override;

    // A widget drawn relative to another: for the draw it moves by the other's
    // rectangle corner and takes its alpha and enabled state; the position
    // before the move is kept in (savedX, savedY) for leaveAttached.
    void followAttached(Widget& to, int32_t& savedX, int32_t& savedY);
    void leaveAttached(int32_t savedX, int32_t savedY)
    {
        x = savedX;
        y = savedY;
    }

    int32_t x = 0;
    int32_t y = 0;
    float z = 0.0f;
    Color colour{255, 255, 255, 255};
    // Where (x, y) lies on the drawn rectangle, as fractions of its size.
    float anchorX = 0.0f;
    float anchorY = 0.0f;
    uint32_t enabled = 0;
    // Panels draw a cross at their reference point while it is set.
    uint32_t showAnchor = 0;
    D3D::Device::SwapChain* owner = nullptr;
    Root* root = nullptr;
    SCList<Widget>::Node* node = nullptr;
    int32_t layer = 0;
    float targetOpacity = 1.0f;
    float fadeSpeed = 0.0f;
    float opacity = 0.0f;
    uint32_t fadeMode = fadeNone;
};

}
