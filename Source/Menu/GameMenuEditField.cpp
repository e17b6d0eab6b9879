#include "Menu/GameMenuEditField.h"

#include "Render/D3DDevice.h"

#include <cwchar>

namespace {

struct LineVertex
{
    float x, y, z, rhw;
};
static_assert(sizeof(LineVertex) == 16);

// Lines drawn on their own just short of the pixel edges.
constexpr float edge = 0.001f;

}

GameMenu::EditField::EditField(GameMenu& owner, const String& text, int32_t fieldX, int32_t fieldY, int32_t width,
                               int32_t fieldId, int32_t newLayer)
    : UserInterface::Text(owner.swapChain(), owner.fonts[buttonFont], newLayer, -1, -1, controlOpacity,
                          controlFadeSpeed),
      menu(&owner), id(fieldId), maxWidth(width)
{
    x = fieldX;
    y = fieldY;
    setText(text);
    enabled = 1;
}

void GameMenu::EditField::removeLast()
{
    wchar_t* chars = buffer.data();
    if (!chars)
        return;
    const size_t length = wcsnlen(chars, bufferSize - 1);
    if (length > 0)
        chars[length - 1] = 0;
    changed = 1;
}

void GameMenu::EditField::inputChar(wchar_t c)
{
    if (c == 27 || c == 13 || c == 0)
        return;
    if (c == 8) {
        removeLast();
    } else {
        String longer;
        longer.format(L"%ls%lc", text(), c);
        const bool appended = longer.length() < bufferSize && longer.length() > int32_t(wcslen(text()));
        if (!appended)
            return;
        setText(longer);
    }
    calc();
    if (getSize().width > maxWidth) {
        removeLast();
        calc();
    }
}

void GameMenu::EditField::draw()
{
    IDirect3DDevice9* d = gDevice;
    if (d && colour != Color(255, 255, 255, 255)) {
        const UserInterface::Size size = getSize();
        const float left = float(x - 10) - edge, top = float(y) - edge;
        const float right = float(x + maxWidth) - edge, bottom = float(y + size.height) - edge;
        const LineVertex frame[5] = {{left, top, 0.0f, 1.0f},
                                     {right, top, 0.0f, 1.0f},
                                     {right, bottom, 0.0f, 1.0f},
                                     {left, bottom, 0.0f, 1.0f},
                                     {left, top, 0.0f, 1.0f}};
        const float caretX = float(x + size.width) - edge;
        const LineVertex caret[2] = {{caretX, top + 3.0f, 0.0f, 1.0f}, {caretX, bottom - 3.0f, 0.0f, 1.0f}};
        d->SetFVF(D3DFVF_XYZRHW);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
        d->SetRenderState(D3DRS_TEXTUREFACTOR, Color(127, 127, 127, 255).argb());
        d->DrawPrimitiveUP(D3DPT_LINESTRIP, 4, frame, sizeof(LineVertex));
        d->SetRenderState(D3DRS_TEXTUREFACTOR, colour.argb());
        d->DrawPrimitiveUP(D3DPT_LINELIST, 1, caret, sizeof(LineVertex));
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
    UserInterface::Text::draw();
}
