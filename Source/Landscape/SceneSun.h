#pragma once

#include "Landscape/AnimatedSky.h"
#include "Landscape/SunDNC.h"

#include "Render/D3DDevice.h"

#include <cstdint>

class Scene;
class TextureRef;
struct SunGlow;

// The scene's sun (Scene::Sun): the day-night cycle that points the swap
// chain's sun light, and the animated sky's listener that colours it with the
// sky's tint. Without a sky no tint arrives and the light keeps its colours
// while its direction still follows the time.
//
// It also holds the sun's texture "SunTex" (a soft round spot for the lens
// flares) and the glow passes of the swap chain's sun glow object, which draw
// nothing while the object's billboard slots are empty (always). Main thread.
class SceneSun : public SunDNC, public AnimatedSky::Interface
{
public:
    explicit SceneSun(Scene* owner) : scene(owner) {}

    // The sky's tint: the swap chain's light takes it as its colour.
    void onSunTint(const float* colour) override;

    // Empties ref, then makes "SunTex" (64 x 64 A8R8G8B8, one level, managed)
    // from sunTextureTexel into it. Returns ref (unbound when the texture
    // could not be made).
    static TextureRef& createTexture(TextureRef& ref);

    // The frame's glow steps: the update of SwapChain::update, the disc of
    // the sky pass, the halo (flag clear in the frame, set in the water's sky
    // mask), and the glare and glow after the scene passes.
    static void updateGlow(SunGlow& glow, D3D::Device::SwapChain& chain);
    static void renderDisc(SunGlow& glow);
    static void renderMaskGlow(SunGlow& glow, uint32_t mask);
    static void renderGlow(SunGlow& glow, D3D::Device::SwapChain& chain);
    static void renderGlare(SunGlow& glow);

    Scene* scene = nullptr;
};

// One texel of "SunTex" at (x, y): equal blue, green, red and alpha bytes,
// 242 at the centre (31, 31), fading to 0 at 31 texels from it (the level
// description is not read).
void sunTextureTexel(uint8_t* texel, uint32_t x, uint32_t y, const D3DSURFACE_DESC&);
