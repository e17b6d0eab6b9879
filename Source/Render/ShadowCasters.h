#pragma once

#include "Render/TextureProjInterface.h"

#include "Core/ConvexVolume.h"
#include "Core/Vector.h"

#include <cstdint>

// What the shadow maps ask of the scene. Each is implemented by the part of
// the scene that holds the things concerned and reached through the swap
// chain (casters, effects) or handed to the shadow manager (ground); all
// three also receive the sun's shadow projections. Main thread only.

// The objects that cast shadows (the entity manager).
class ShadowCasters : public TextureProjInterface
{
public:
    // The casters whose boxes are not outside volume, leaving out those of
    // excluded (an entity, or null). Without atRest: 1 at the first one, 0
    // when there is none. With atRest: *atRest becomes 1, every caster is
    // counted and the count returned, and a counted caster that moves sets
    // *atRest to 0.
    virtual int32_t findCastersInVolume(const ConvexVolume& volume, const void* excluded, uint32_t* atRest) = 0;
    // Draws the casters in volume into the target in force with the view and
    // projection in force, colour and alpha 0, restoring what it changes;
    // updates *atRest as above (when given). 1 when any was drawn.
    virtual uint32_t renderShadowCasters(const ConvexVolume& volume, uint32_t* atRest) = 0;
};

// The particle effects (the effect managers): a map with one inside stays
// live.
class ShadowEffects
{
public:
    // True when the box of any effect system meets volume.
    virtual bool anySystemInVolume(const ConvexVolume& volume) = 0;
    // True when any single particle lies in volume.
    virtual bool anyParticleInVolume(const ConvexVolume& volume) = 0;

protected:
    ~ShadowEffects() = default;
};

// The ground the sun's shadows fall on (the terrain).
class ShadowGround : public TextureProjInterface
{
public:
    // False while no level's heights are loaded.
    virtual bool hasHeightData() = 0;
    // The first point of the segment from to to on the ground, in hit; false
    // when the segment meets no ground.
    virtual bool intersectSegment(const vec3d& from, const vec3d& to, vec3d& hit) = 0;
};
