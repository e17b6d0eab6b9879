#pragma once
// The quad's wheel units: two steered front wheels with one ground contact
// each and the rigid rear axle with two (left and right). A unit is set up
// once, when its quad is built, from the template's part meshes and its
// spring and damper; the physics step then probes the ground under each
// contact and pushes the body (the step runs on the physics thread; the
// wheel visuals and the race read the flags on the main thread, a value one
// step old being good enough).

#include "Vehicle/QuadPhysics.h"

#include "Entity/EntityManager.h"

#include "Core/Vector.h"

#include <cstdint>

// One ground contact of a wheel unit.
class ObjPkgManager::Functions::QuadPhysics::Contact
{
public:
    Wheel* wheel = nullptr;
    vec3d centre;         // wheel centre in the world
    vec3d rayStart;       // top of the probe, fixed to the body
    vec3d rayDir;         // the probe's direction: down the body's up axis
    vec3d contactPoint;   // the probe's end, on the ground while grounded
    vec3d rayEnd;         // the probe's end as the body places it
    vec3d groundNormal;   // of the last grounded probe
    vec3d lateralVelocity;
    vec3d rollVelocity;
    float rayLength = 0.0f;
    float groundDistance = 0.0f;
    float load = 0.0f;
    float slideSpeed = 0.0f;
    uint32_t grounded = 0;
    uint32_t sliding = 0;
    uint32_t oiled = 0;
    uint32_t landed = 0;
    uint32_t oiledUntil = 0;  // ms of the race clock
    uint32_t landedUntil = 0; // ms of the race clock
};

// One wheel unit: front left (index 0), front right (1) or the rear axle (2).
class ObjPkgManager::Functions::QuadPhysics::Wheel
{
public:
    static constexpr int32_t frontLeft = 0;
    static constexpr int32_t frontRight = 1;
    static constexpr int32_t rearAxle = 2;
    // A unit never set up does nothing.
    static constexpr int32_t notSetUp = 3;
    // parts and partMeshes: swing arm, shock absorber, steering part (front
    // wheels only), the wheel itself.
    static constexpr int32_t partCount = 4;

    Wheel();
    Wheel(const Wheel&) = delete;
    Wheel& operator=(const Wheel&) = delete;

    // Once, when the quad is built (its part sub-entities and meshes already
    // matched): keeps owner, index, scale, spring and damper, lets the part
    // sub-entities be placed by the quad rather than follow the entity,
    // points dirAxis at the rolling axis (front) or the axle's (rear) and
    // takes the probe length from the wheel mesh's height and the travel of
    // the shock absorber from its mesh (0 without the mesh). Main thread.
    void setUpWheel(Instance* owner, int32_t unit, float scaleFactor, float springConstant, float damperConstant);

    Instance* instance = nullptr;
    Contact contacts[2];
    const vec3d* dirAxis = nullptr;
    vec3d suspensionEnd;
    vec3d groundPoint;
    vec3d axisRight;
    vec3d axisForward;
    uint32_t grounded = 0;
    uint32_t steep = 0;
    uint32_t spinning = 0;
    uint32_t visualUpdated = 0;
    float spring = defaultSpring;
    float damper = defaultDamper;
    float scale = 1.0f;
    float partLength = 0.0f;
    float rollRate = 0.0f;
    float spinAngle = 0.0f; // degrees
    float spin = 0.0f;
    float halfRayLength = 0.0f;
    int32_t index = notSetUp;
    EntityManager::SubEntity* parts[partCount] = {};
    Mesh* partMeshes[partCount] = {};
};
