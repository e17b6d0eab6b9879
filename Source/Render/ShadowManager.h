#pragma once

#include "Render/D3DDevice.h"
#include "Render/ShadowProj.h"

#include "Core/DynArray.h"
#include "Core/OrientedBox.h"
#include "Core/Vector.h"

#include <cstdint>

class ShadowGround;

// The sun's shadows around the camera: a grid of square sectors aligned with
// the sun's horizontal direction, each a shadow projection with its own
// 512 x 512 map covering one cell as seen from the sun. Sectors are made on
// demand, re-used when the camera moves (frozen maps included) and fade
// towards the edge of the shadowed area. The scene holds the manager; the
// application sets it up (setEnabled, setQuality), updates it every frame
// after the entities and renders its maps from the frame's first hook.
// It reaches the camera, the sun and the casters through the swap chain of
// its owner and the ground through ground (null: no shadows). Main thread.
class ShadowManager
{
public:
    // A sector: a shadow projection placed at a grid point.
    class ShadowSector : public ShadowProj
    {
    public:
        static constexpr int32_t freeKey = -99999;

        ShadowSector(ShadowManager& manager, float blur);
        // Every receiver lets the sector go first.
        ~ShadowSector() override;

        // Sets the map to live: it is drawn again at the next pass.
        void invalidate() override;
        // The light camera 600 units up the sun from the grid point, its
        // orthographic lens over one cell, and whether any caster is inside.
        void place(const vec3d& sun);

        ShadowManager& manager;
        OrientedBox unitBox;
        int32_t key[2] = {freeKey, freeKey};
        int32_t lastUsedFrame = 0;
        vec3d position;
    };

    // swapChain is the owner's pointer to its swap chain (null until the
    // device exists); range is the radius of the shadowed area and
    // maxStrength the darkness of a sector at full weight (0 to 255).
    ShadowManager(D3D::Device::SwapChain* const& swapChain, float range, float maxStrength);
    ~ShadowManager();
    ShadowManager(const ShadowManager&) = delete;
    ShadowManager& operator=(const ShadowManager&) = delete;

    // Shadows on (flag non-zero) or off: every sector's disabled flag.
    void setEnabled(int32_t flag);
    // The softness of every map, new and old (0 to 5).
    void setQuality(float blur);
    // Places the sectors around the camera for this frame; nothing without
    // ground heights or while disabled. A sun at or below 0.001 above the
    // horizon casts no shadows: every sector is disabled.
    void update();
    // Renders the maps of the sectors in use (the frame's first hook).
    void renderStaticShadowMaps();
    // Deletes every sector; the slots stay, empty.
    void releaseSectors();
    // The sector of key; else a free one; else, when create is set, a new
    // one appended; else null.
    ShadowSector* findSector(const int32_t (&key)[2], bool create);
    // Disables and frees every sector not placed by the current update.
    void freeUnusedSectors();

    D3D::Device::SwapChain* const& swapChain;
    ShadowGround* ground = nullptr;
    // The roads, which the sun's shadows fall on too (null: none).
    TextureProjInterface* roads = nullptr;
    float range;
    float cellSize;
    float maxStrength;
    float blur = 1.0f;
    DynArray<ShadowSector*> sectors{32};
    int32_t sectorCount = 0; // slots in use, empty ones included
    int32_t frameCounter = 0;
    OrientedBox area;
    vec3d offset;
    int32_t enabled = 1;
};
