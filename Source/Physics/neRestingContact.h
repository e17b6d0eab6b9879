#pragma once

#include "Core/Vector.h"

#include <cstdint>

class neRigidBodyBase;
class neRigidBody;

// One resting contact of a rigid body on a partner: the points in both
// frames, the state brought up to date from both bodies' transforms, and the
// slot's node in the partner's list of contacts resting on it.
struct neRestingContact
{
    vec3d bodyPoint;         // in the owning body's frame
    vec3d partnerPoint;      // in the partner's frame
    vec3d worldPoint;        // the owner's point in world coordinates
    vec3d partnerWorldPoint; // the partner's point in world coordinates
    vec3d difference;        // owner's point minus partner's point
    vec3d partnerNormal;     // in the partner's frame
    vec3d worldNormal;
    float order;      // the slot with the smallest value is replaced first
    float separation; // along the world normal; negative while the bodies overlap
    float slide;      // squared length of the difference across the normal
    uint32_t materials[2]; // the owner's and the partner's
    uint32_t kind; // neRestingKind
    neRigidBodyBase* partner;
    neRestingContact* next; // in the partner's list
    neRestingContact* prev;
    uint32_t spare;
    neRigidBody* owner;
    uint32_t stepStamp; // the simulator's step counter when it was recorded
};

enum neRestingKind : uint32_t
{
    neRestingEmpty = 0,
    neRestingOnRigid = 1,
    neRestingOnAnimated = 2,
    neRestingUnchecked = 3,
};

constexpr int neHistoryLength = 10;

// A rigid body's contact record: its three resting contacts and the recent
// velocities from which rest is judged (indexed by the step counter mod 10).
struct neContactRecord
{
    neRestingContact slots[3];
    vec3d velocities[neHistoryLength];
    vec3d angularVelocities[neHistoryLength];
    int32_t usedCount;
    int32_t usedSlots[3];
    vec3d restingNormal;
};
