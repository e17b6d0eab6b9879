#pragma once

#include <cstdint>

// The sun glow object of the swap chain: the billboard slots of the sun's
// disc, halo and glow passes and the state those passes would keep. No part
// of the game makes a billboard, so the passes (Scene::Sun::updateGlow and
// the render operations) find their slot empty and return: they draw nothing
// and leave every field at its start value.
struct SunGlow
{
    // A billboard the glow passes would draw; owned by its slot.
    struct Billboard
    {
        virtual ~Billboard() = default;
    };

    SunGlow() = default;
    SunGlow(const SunGlow&) = delete;
    SunGlow& operator=(const SunGlow&) = delete;
    ~SunGlow()
    {
        delete disc;
        delete halo;
        delete glow;
    }

    Billboard* disc = nullptr;
    Billboard* halo = nullptr;
    Billboard* glow = nullptr;
    uint32_t discMode = 0;
    uint32_t haloMode = 0;
    uint32_t glowMode = 0;
    // The glow's occlusion sampling.
    float hiddenFraction = 0.0f;
    float strength = 0.0f;
    float size = 0.0f;
    float lastSample = 0.0f;
    float sampleCounter = 0.0f;
    float sampleRate = 0.0f;
    float rateMaximum = 15.0f;
};
