#pragma once

#include "Render/D3DDevice.h"
#include "Render/SwapChainInterface.h"

#include "Core/BoundingBox.h"
#include "Core/String.h"

#include <d3d9.h>

#include <cfloat>
#include <cstdint>

// The ground of the loaded level: one global object (gTerrain), made before
// the program starts without touching the device, filled from a level's
// ".map" file by load and emptied by clear. Every query answers for missing
// ground while nothing is loaded.
//
// Its first fields are a load-process entry: load and startLod report their
// progress through the swap chain they are given. Main thread, except where a
// query says otherwise.
class Terrain : public D3D::LoadProcessInterface
{
public:
    // The scene's settings for a load.
    struct Settings
    {
        String path;                 // the ".map" file
        float lodDistance = 4.0f;
        float horizontalScale = 3.0f;
        float verticalScale = 1.75f;
        float firstRepeat = 4.0f;    // repeat length of the first overlay texture
        float secondRepeat = 0.4f;   // repeat length of the second overlay texture
        uint32_t colourOps[4] = {D3DTOP_MODULATE, D3DTOP_MODULATE, D3DTOP_ADDSIGNED, D3DTOP_ADD};
    };

    // The height of missing ground.
    static constexpr float missing = -FLT_MAX;
    // The lowest and highest levels of detail a level may allow.
    static constexpr int32_t finestLod = 0;
    static constexpr int32_t coarsestLod = 5;

    Terrain();
    ~Terrain();
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Builds the terrain from the ".map" file of settings. False, and nothing
    // built, when a terrain is loaded already or the file cannot be read.
    bool load(D3D::Device::SwapChain* swapChain, const Settings& settings);
    // Frees everything a load built; nothing while unloaded.
    void clear();
    bool isLoaded() const { return loaded; }
    // The last step of a scene load: the first level-of-detail pass, then
    // progress 1.0 (also without a terrain: its part of the loading is over).
    void startLod(D3D::Device::SwapChain* swapChain);

    // The ground height in world units under (x, z), or missing outside the
    // terrain or without one.
    float getHeight(float x, float z, int32_t resolution) const;

    // Levels of detail allowed, within finestLod..coarsestLod (the scene
    // clamps them).
    int32_t lowestLod = finestLod;
    int32_t highestLod = coarsestLod;
    // The terrain's material; the scene sets the colours of diffuse and ambient.
    D3DMATERIAL9 material{};
    // World-space bounds of the loaded ground.
    BoundingBox box;

private:
    bool loaded = false;
};

// The one terrain of the program.
extern Terrain gTerrain;
