#pragma once
// The swap chain's strip effects: the groups their owners add (and own),
// the shared ring and strip indices, a record of defaults, the per-frame
// update of every item, and the volume queries and draws of the shadow
// maps. Main thread only.

#include "Render/ShadowCasters.h"
#include "Render/StripEffect.h"

#include <TextureRecord.h>

#include "Core/ConvexVolume.h"
#include "Core/SCList.h"

#include <cstdint>

class StripEffectManager final : public ShadowEffects
{
public:
    // Values kept for the effects' owners.
    struct Defaults
    {
        TextureRef texture;
        uint32_t flags[2] = {1, 1};
        float values[11] = {0.11f, 0.15f, 0.007f, 0.004f, 0.6f, 0.8f, 0.08f, -50.0f, 2.0f, 85.0f, 0.15f};
    };

    StripEffectManager() = default;
    // Releases both buffers and the defaults' texture; the groups stay with
    // their owners.
    ~StripEffectManager();
    StripEffectManager(const StripEffectManager&) = delete;
    StripEffectManager& operator=(const StripEffectManager&) = delete;

    // The strip indices, once (device creation).
    bool createStripIndices();
    // The ring's vertex buffer when missing (device creation and restore),
    // and its release before a reset.
    bool createVertices() { return ring.createVertices(); }
    void releaseVertices() { ring.releaseVertices(); }

    // Every item's frame update, group by group.
    void update();
    // The frame pass: every group in list order.
    void render();
    // True when an item of a group that is not hidden has a box not
    // outside volume.
    bool anyEffectInVolume(const ConvexVolume& volume) const;
    // Every group that is not hidden draws its items whose boxes are not
    // outside volume, blended and alpha-tested, leaving alpha 0 where they
    // cover (a shadow in a shadow map); true when any item was drawn.
    bool drawInVolume(const ConvexVolume& volume);

    bool anySystemInVolume(const ConvexVolume& volume) override { return anyEffectInVolume(volume); }
    bool anyParticleInVolume(const ConvexVolume& volume) override { return anyEffectInVolume(volume); }

    bool indicesCreated = false;
    Defaults defaults;
    StripEffectRing ring;
    SCList<StripEffectGroup> groups;
};
