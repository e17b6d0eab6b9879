#include "Menu/GameMenuColorSlider.h"

#include "Render/TextureDevice.h"

namespace {

struct MarkerVertex
{
    float x, y, z, rhw;
};
static_assert(sizeof(MarkerVertex) == 16);

}

GameMenu::ColorSlider::ColorSlider(GameMenu& owner, int32_t channel, int32_t sliderId)
    : UserInterface::Panel(owner.swapChain(), 0, controlOpacity, controlFadeSpeed), menu(&owner), id(sliderId)
{
    x = 100;
    y = 0;
    TextureRef& gradient = shader->textures[0];
    if (Texture::create(gradient, String(L"Gradient"), gradientSize, gradientSize, 1, 0, D3DFMT_A8R8G8B8,
                        D3DPOOL_MANAGED)) {
        const Color end = endColour(channel);
        TextureDevice::LevelLock lock(gradient.texture()->texture, 0);
        for (int32_t row = 0; lock.ok() && row < gradientSize; ++row) {
            auto* texel = reinterpret_cast<Color*>(lock.row(uint32_t(row)));
            for (int32_t c = 0; c < gradientSize; ++c) {
                const float t = float(c) / float(gradientSize - 1);
                // Opaque: the texture's alpha scales the slider's fade.
                texel[c] = Color(uint8_t(t * end.r), uint8_t(t * end.g), uint8_t(t * end.b), 255);
            }
        }
    }
    textureWidth = width;
    textureHeight = height;
    enabled = 1;
}

Color GameMenu::ColorSlider::endColour(int32_t channel)
{
    switch (channel) {
    case 1:
        return {255, 0, 0, 255};
    case 2:
        return {0, 255, 0, 255};
    case 3:
        return {0, 0, 255, 255};
    case 4:
        return {255, 255, 255, 255};
    case 5:
        return {255, 255, 0, 255};
    default:
        return {0, 0, 0, 255};
    }
}

void GameMenu::ColorSlider::draw()
{
    UserInterface::Panel::draw();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    const float mx = value * textureWidth + float(x);
    const float top = float(y), bottom = float(y) + textureHeight;
    constexpr float edge = 0.001f;
    const MarkerVertex marker[4] = {{mx - 2.0f - edge, top - edge, 0.0f, 1.0f},
                                    {mx + 2.0f - edge, top - edge, 0.0f, 1.0f},
                                    {mx - 2.0f - edge, bottom - edge, 0.0f, 1.0f},
                                    {mx + 2.0f - edge, bottom - edge, 0.0f, 1.0f}};
    d->SetFVF(D3DFVF_XYZRHW);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, markerColour.argb());
    d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, marker, sizeof(MarkerVertex));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}
