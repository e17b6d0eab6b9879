#pragma once
// The widget list of a swap chain and the user-interface pass that draws
// it, with the two line helpers of panels and edit fields. Main thread only.

#include "Menu/Widget.h"

#include "Core/Color.h"
#include "Core/SCList.h"

#include <cstdint>

namespace UserInterface {

// One per swap chain, made and deleted with it. The list refers to widgets
// it does not own; widgets unlink themselves when destroyed.
class Root
{
public:
    explicit Root(D3D::Device::SwapChain* chain) : swapChain(chain) {}
    ~Root() { release(); }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

    // Frees every node of the list; the widgets stay alive, forget their
    // node and are never drawn again.
    void release();

    // The pointer in window client pixels, against which panels test.
    int32_t pointerX = 0;
    int32_t pointerY = 0;
    // Set by every fade step of any widget.
    uint32_t changed = 0;
    D3D::Device::SwapChain* swapChain = nullptr;
    SCList<Widget> widgets;
    // While set the pass draws nothing.
    uint32_t hidden = 0;
    // While set every text lays itself out at each update, changed or not.
    uint32_t relayout = 0;
    // Clear while a pass runs that draws the frame a second time (the
    // showroom's own pass): widgets then draw without stepping their fades,
    // so a fade advances once per frame.
    uint32_t fadesAdvance = 1;
};

// The user-interface pass: with Z test, Z writes, lighting and alpha writes
// off (and fog, when the swap chain fogs), every enabled widget of the list
// draws, from head to tail; then those states go back. advanceFades false
// draws without stepping the fades. Nothing while root.hidden is set.
// Without a device the widgets still run their draw (and their fades).
void renderAll(Root& root, bool advanceFades = true);

// A cross of two lines through p, halfLength long each way, in colour
// (blended when its alpha is below 255).
void drawCross(float px, float py, float halfLength, Color colour);
// The outline of a rectangle at depth z, in colour.
void drawRectOutline(float left, float top, float right, float bottom, float z, Color colour);

}
