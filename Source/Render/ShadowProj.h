#pragma once

#include "Render/ShadowMap.h"
#include "Render/TextureProj.h"

#include <cstdint>

// A texture projection that carries a 512 x 512 shadow map and darkens what
// it is thrown on: receivers blend a black texture factor of alpha opacity
// over themselves, times one minus the map's alpha. The sun's shadow
// sectors derive from it. Main thread only.
class ShadowProj : public TextureProj, public TextureProj::InterfaceShader
{
public:
    static constexpr int32_t mapSize = 512;

    // A perspective projection with its map (blur as given, border frame,
    // private targets) and opacity 200; the state blocks are recorded.
    explicit ShadowProj(float blur);
    ~ShadowProj() override = default;

    bool isShadow() const override { return true; }
    // Unless disabled: the texture matrix for the current camera, keeping a
    // border of 1.1 texels.
    void update() override;
    // The shadow states: stage 0 colour the texture factor; alpha the
    // factor's times one minus the map's; clamped; blended over.
    void setShaderStates() override;

    ShadowMap map;
    uint8_t opacity = 200;
};
