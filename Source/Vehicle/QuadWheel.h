#pragma once
// The quad's wheel units: two steered front wheels with one ground contact
// each and the rigid rear axle with two (left and right). A unit is set up
// once, when its quad is built, from the template's part meshes and its
// spring and damper; the physics step then probes the ground under each
// contact and pushes the body.
//
// Threads: stepWheel runs on the physics thread. The words both threads use
// (the contact and unit flags, the sliding speeds, the spin, the oil
// deadlines) are Relaxed: the race and the wheel visuals read or write them
// on the main thread, a value one step old being good enough.

#include "Vehicle/QuadPhysics.h"

#include "Entity/EntityManager.h"
#include "Landscape/Terrain.h"

#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <atomic>
#include <cstdint>

class neRigidBody;

// A word both threads use: loads and stores are relaxed atomics.
template <typename T>
class Relaxed
{
public:
    constexpr Relaxed(T initial = T()) : value(initial) {}
    Relaxed(const Relaxed&) = delete;
    Relaxed& operator=(const Relaxed&) = delete;
    operator T() const { return value.load(std::memory_order_relaxed); }
    Relaxed& operator=(T v)
    {
        value.store(v, std::memory_order_relaxed);
        return *this;
    }

private:
    std::atomic<T> value;
};

// A point both threads use, each coordinate a relaxed atomic: a reader may
// see coordinates of two steps, as good as one step old for drawing.
class RelaxedPoint
{
public:
    operator vec3d() const { return {x, y, z}; }
    RelaxedPoint& operator=(const vec3d& p)
    {
        x = p.x;
        y = p.y;
        z = p.z;
        return *this;
    }

private:
    Relaxed<float> x, y, z;
};

// The quad's body as the main thread reads it: its pose (last column
// (0, 0, 0, 1)) and velocities, copied at the frame's sync while no step
// batch runs (QuadPhysics::Instance::sync), never read from the body that
// the physics thread steps.
struct QuadBodyCopy
{
    matrix3d pose = matrix3d::identity();
    vec3d velocity;
    vec3d angularVelocity;

    // The velocity at r from the centre of mass.
    vec3d velocityAt(const vec3d& r) const { return velocity + angularVelocity.cross(r); }
};

// One ground contact of a wheel unit.
class ObjPkgManager::Functions::QuadPhysics::Contact
{
public:
    // What the main thread reads of the contact's points, copied with the
    // body at the frame's sync: the fields below belong to the physics
    // thread while a batch runs.
    struct Synced
    {
        vec3d centre;
        vec3d contactPoint;
        vec3d groundNormal;
    };

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
    Relaxed<float> slideSpeed;
    Relaxed<uint32_t> grounded;
    Relaxed<uint32_t> sliding;
    // Set by the race for a contact in an oil spill (setOiled); while set the
    // contact slides with a tenth of its grip, until the clock passes
    // oiledUntil at a touch of the ground.
    Relaxed<uint32_t> oiled;
    Relaxed<uint32_t> landed;     // for 20 ms after a touch-down
    Relaxed<uint32_t> oiledUntil; // ms of the race clock
    uint32_t landedUntil = 0;     // ms of the race clock
    // The depth of water over the contact (0 on dry land): the wheel dirt
    // measures it each frame.
    Relaxed<float> waterDepth;
    // The ground cell the probe read last (physics thread).
    Terrain::HeightCache groundCache;
    Synced synced;

    // Main thread, while no batch runs: the points into synced.
    void sync() { synced = {centre, contactPoint, groundNormal}; }

    // Main thread: oiled from now until the clock passes until.
    void setOiled(uint32_t until)
    {
        oiledUntil = until;
        oiled = 1;
    }
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
    // Physics thread, once per step: probes the ground under the contacts,
    // then adds the suspension, the side push on steep ground and the
    // contacts' friction to force and torque (world space, torque about the
    // centre of mass), and the damage wobble. A unit not set up, or without
    // its swing arm, its wheel or a probe length, does nothing.
    void stepWheel(neRigidBody* body, vec3d& force, vec3d& torque);
    // The same for the step, which hands over the body's pose, its last
    // column already set to (0, 0, 0, 1).
    void stepWheel(neRigidBody* body, const matrix3d& pose, vec3d& force, vec3d& torque);
    // Main thread, once per frame, the unit's drawn parts (world transforms,
    // each when its part is there): the swing arm turned about its pivot by
    // the suspension's travel, the shock absorber spanning its two mounts,
    // the wheel and its steering part turned by steerRotation; then the
    // wheels' turn from the ground speed (rollRate), spin following it unless
    // the unit hangs free, stands on steep ground, spins or locks under the
    // brake; spinAngle turns by spin, and the unit counts as posed
    // (visualUpdated).
    void updateWheelVisual(const QuadBodyCopy& body, const matrix3d& steerRotation, float brake, float frameTime);
    // Main thread, at the frame's sync while no batch runs: the contacts'
    // points, the probe's end and the ground point into their copies.
    void sync();
    // The swing arm's turn of the last updateWheelVisual, degrees.
    float swingAngle = 0.0f;
    // Whether the unit has what its probes need.
    bool hasProbes() const;

    Instance* instance = nullptr;
    Contact contacts[2];
    const vec3d* dirAxis = nullptr;
    // The probe's end as the body places it and the point on the ground,
    // blended between the two contacts for the rear axle (physics thread),
    // and their copies at the last sync, which the visuals read.
    RelaxedPoint suspensionEnd;
    RelaxedPoint groundPoint;
    vec3d syncedSuspensionEnd;
    vec3d syncedGroundPoint;
    vec3d axisRight;
    vec3d axisForward;
    Relaxed<uint32_t> grounded;
    Relaxed<uint32_t> steep;
    Relaxed<uint32_t> spinning;
    Relaxed<uint32_t> visualUpdated;
    float spring = defaultSpring;
    float damper = defaultDamper;
    float scale = 1.0f;
    float partLength = 0.0f;
    float rollRate = 0.0f;
    Relaxed<float> spinAngle; // degrees
    Relaxed<float> spin;
    float halfRayLength = 0.0f;
    int32_t index = notSetUp;
    EntityManager::SubEntity* parts[partCount] = {};
    Mesh* partMeshes[partCount] = {};

private:
    void poseParts(const matrix3d& pose, const matrix3d& steerRotation);
    // The contacts' centres and probe tops in the body's frame, from the
    // wheel mesh's placement in its package (fixed once the package is
    // built) at the quad's scale.
    void placeProbes();
    vec3d localCentre[2];
    vec3d localRayStart[2];
    void probe(Contact& contact);
    void friction(Contact& contact, neRigidBody* body, const vec3d& position, vec3d& force, vec3d& torque);
};
