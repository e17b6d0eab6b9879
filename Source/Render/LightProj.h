#pragma once

#include "Render/ShadowMap.h"
#include "Render/TextureProj.h"

#include "Core/Color.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

// A projected light: a texture thrown from a box (omni light, kind 0) or a
// cone (spot light, kind 1), with a Direct3D point light at the projector.
// The object packages' lights are these; their loader writes kind, range,
// colour, intensity, cone angle and flag. Values that would make an
// infinite or undefined matrix (a range of 0.99 or less, a cone outside 0
// to 180 degrees, anything not finite) disable the projection instead.
// Main thread only.
class LightProj : public TextureProj, public TextureProj::InterfaceShader
{
public:
    // A light's flicker (fires): a slow random walk of two channels that
    // moves the light a little and varies its intensity. The clock and the
    // random source are injectable.
    class Flicker
    {
    public:
        explicit Flicker(uint32_t (*clock)() = nullptr, int (*random)() = nullptr);
        virtual ~Flicker() = default;

        // Steps the walk at most once per 200 ms, then the offset (strength
        // s x 0.1 at most) and the intensity factor (1 - 0.3 s .. 1).
        virtual void update(float strength);

        vec3d offset;
        float intensityFactor = 1.0f;
        float walk[2] = {};
        float angle[2] = {};
        float phase[2] = {};
        uint32_t lastStep = 0;

    private:
        uint32_t (*clock_)();
        int (*random_)();
    };

    // The defaults: a 30-degree cone of range 30, intensity 0.6, warm white;
    // a point light of range 10000; a shadow map without targets.
    explicit LightProj(float blur);
    // Switches the device light off and gives its index back.
    ~LightProj() override;

    bool isLight() const override { return true; }
    // Projection, view and volume for the kind; the light at the projector.
    void update() override;
    // Unless disabled: the texture matrix for receiverView; then apply.
    void applyForView(const matrix3d& receiverView) override;
    // SRCBLEND SRCALPHA, DESTBLEND INVSRCALPHA.
    void setShaderStates() override;

    float coneAngle = 30.0f; // full opening, degrees
    float intensity = 0.6f;
    float range = 30.0f;
    float inverseRange = 1.0f / 30.0f;
    Color colour{0xFF, 0xF5, 0xEB, 0xFF};
    uint32_t flag = 1;
    D3DLIGHT9 light{};
    uint32_t lightIndex = 0; // 0: none
    ShadowMap map;
};
