#include "Menu/UserInterface.h"

#include "Render/Camera.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <windows.h>
#include <d3d9.h>

namespace UserInterface {

namespace {

struct LineVertex
{
    float x, y, z, rhw;
};
static_assert(sizeof(LineVertex) == 16);

// Set while the user-interface pass holds fog off for all its widgets: a
// helper drawn inside it must not switch fog back on for the ones after it.
bool passHoldsFogOff = false;

bool frameFogs()
{
    return !passHoldsFogOff && gCamera && gCamera->fogEnabled;
}

// The line helpers' states: the colour comes from the texture factor alone;
// blending only for a colour that is not opaque.
void drawLines(D3DPRIMITIVETYPE type, UINT count, const LineVertex* points, Color colour)
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    const bool fog = frameFogs();
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, colour.argb());
    const bool blend = colour.a != 255;
    if (blend)
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetFVF(D3DFVF_XYZRHW);
    d->DrawPrimitiveUP(type, count, points, sizeof(LineVertex));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    if (blend)
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
}

}

void Root::release()
{
    widgets.clearWith([](Widget* widget) { widget->node = nullptr; });
}

void renderAll(Root& root, bool advanceFades)
{
    CRASH_TRACE();
    if (root.hidden)
        return;
    IDirect3DDevice9* d = gDevice;
    const bool fog = root.swapChain && root.swapChain->fogEnabled;
    if (d) {
        d->SetRenderState(D3DRS_ZENABLE, FALSE);
        d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        d->SetRenderState(D3DRS_COLORWRITEENABLE,
                          D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE);
        if (fog)
            d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    }

    root.fadesAdvance = advanceFades ? 1 : 0;
    passHoldsFogOff = true;
    for (SCList<Widget>::Node* n = root.widgets.head(); n;) {
        // A widget's draw may take it out of the list.
        SCList<Widget>::Node* next = n->next;
        if (n->item && n->item->enabled)
            n->item->draw();
        n = next;
    }
    root.fadesAdvance = 1;
    passHoldsFogOff = false;

    if (d) {
        d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        d->SetRenderState(D3DRS_ZENABLE, TRUE);
        d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        if (fog)
            d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    }
}

void drawCross(float px, float py, float halfLength, Color colour)
{
    const LineVertex points[4] = {{float(int32_t(px - halfLength)), float(int32_t(py)), 0.0f, 1.0f},
                                  {float(int32_t(px + halfLength)), float(int32_t(py)), 0.0f, 1.0f},
                                  {float(int32_t(px)), float(int32_t(py - halfLength)), 0.0f, 1.0f},
                                  {float(int32_t(px)), float(int32_t(py + halfLength)), 0.0f, 1.0f}};
    drawLines(D3DPT_LINELIST, 2, points, colour);
}

void drawRectOutline(float left, float top, float right, float bottom, float z, Color colour)
{
    const LineVertex points[5] = {{left, top, z, 1.0f},
                                  {right, top, z, 1.0f},
                                  {right, bottom, z, 1.0f},
                                  {left, bottom, z, 1.0f},
                                  {left, top, z, 1.0f}};
    drawLines(D3DPT_LINESTRIP, 4, points, colour);
}

}
