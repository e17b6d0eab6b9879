#include "Menu/GameMenu.h"

#include "Landscape/Scene.h"

#include "Core/Timer.h"

#include <algorithm>

const D3DCOLORVALUE GameMenu::highlightRamp[4] = {{0.0f, 1.0f, 0.0f, 1.0f},
                                                  {1.0f, 1.0f, 0.0f, 1.0f},
                                                  {63.0f / 255.0f, 63.0f / 255.0f, 63.0f / 255.0f, 1.0f},
                                                  {0.0f, 1.0f, 0.0f, 1.0f}};

D3D::Device::SwapChain* GameMenu::swapChain() const
{
    return scene ? scene->swapChain : nullptr;
}

void GameMenu::highlightStep(float& phase, Color& colour)
{
    const D3DCOLORVALUE c = colorRamp4(highlightRamp, phase);
    colour = Color(uint8_t(c.r * 255.0f), uint8_t(c.g * 255.0f), uint8_t(c.b * 255.0f), uint8_t(c.a * 255.0f));
    // The factor of the last pause: the ramp keeps pulsing in the pause
    // screen, where the frame factor is 0.
    phase += gTimer.savedFactor * 0.08f;
    if (phase > 1.0f)
        phase -= 1.0f;
}

D3DCOLORVALUE colorRamp4(const D3DCOLORVALUE stops[4], float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    const int i = int(3.0f * t);
    const int j = std::min(i + 1, 3);
    const float local = (t - float(i) * (1.0f / 3.0f)) * 3.0f;
    const D3DCOLORVALUE& a = stops[i];
    const D3DCOLORVALUE& b = stops[j];
    return {a.r * (1.0f - local) + b.r * local, a.g * (1.0f - local) + b.g * local,
            a.b * (1.0f - local) + b.b * local, a.a * (1.0f - local) + b.a * local};
}
