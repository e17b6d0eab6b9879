#include "Landscape/SceneSun.h"

#include "Landscape/Scene.h"
#include "Landscape/SunGlow.h"

#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>

#include <TextureRecord.h>

namespace {

// The spot's centre texel and the reciprocal of its radius.
constexpr int32_t textureCentre = 31;
constexpr float textureScale = 1.0f / 31.0f;

float within(float v, float high) { return v > high ? high : v >= 0.0f ? v : 0.0f; }

}

void SceneSun::onSunTint(const float* colour)
{
    static constexpr float white[3] = {1.0f, 1.0f, 1.0f};
    if (scene && scene->swapChain)
        applyTint(scene->swapChain->sun, colour, white, 0.0f);
}

void sunTextureTexel(uint8_t* texel, uint32_t x, uint32_t y, const D3DSURFACE_DESC&)
{
    const int32_t dx = textureCentre - int32_t(x);
    const int32_t dy = textureCentre - int32_t(y);
    const float d = fastSqrt(float(dx * dx + dy * dy));
    const float v = std::max((float(textureCentre) - d) * textureScale, 0.0f);
    const float a = within(floatPow(v, 2.0f) * 0.2f, 0.2f);
    const float b = within(floatPow(v, 4.5f) * 0.75f, 0.75f);
    const uint8_t value = uint8_t((a + b) * 255.0f);
    texel[0] = texel[1] = texel[2] = texel[3] = value;
}

TextureRef& SceneSun::createTexture(TextureRef& ref)
{
    CRASH_TRACE();
    ref.release();
    if (Texture::create(ref, String(L"SunTex"), 64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED))
        Texture::fillProcedural(ref, sunTextureTexel);
    return ref;
}

// No part of the game fills the billboard slots, so every glow step ends at
// its slot's test.
void SceneSun::updateGlow(SunGlow& glow, D3D::Device::SwapChain&)
{
    if (!glow.halo)
        return;
}

void SceneSun::renderDisc(SunGlow& glow)
{
    if (!glow.disc)
        return;
}

void SceneSun::renderMaskGlow(SunGlow& glow, uint32_t)
{
    if (!glow.halo)
        return;
}

void SceneSun::renderGlow(SunGlow& glow, D3D::Device::SwapChain&)
{
    if (!glow.glow)
        return;
}

void SceneSun::renderGlare(SunGlow& glow)
{
    if (!glow.glow)
        return;
}
