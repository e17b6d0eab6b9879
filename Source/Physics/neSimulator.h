#pragma once

#include "Physics/PerfTimer.h"
#include "Physics/neAllocator.h"
#include "Physics/neCollision.h"
#include "Physics/neConstraintGroup.h"
#include "Physics/neRegion.h"
#include "Physics/neRigidBody.h"

#include <cstdint>

// The sizes of the simulator's pools, fixed at its creation.
struct neSimulatorSizes
{
    int32_t rigidBodiesCount = 50;
    int32_t animatedBodiesCount = 50;
    int32_t rigidParticlesCount = 50;
    int32_t constraintSetsCount = 50; // controllers
    int32_t overlappedPairsCount = 1225;
    int32_t geometriesCount = 50;
    int32_t constraintsCount = 100;
    int32_t constraintHeadersCount = 100; // constraint groups
    int32_t extraCount8 = 2000;
    int32_t sensorsCount = 100;
    int32_t extraCount10 = 200;
    int32_t extraCount11 = -1;

    // The sizes the game runs with for n rigid bodies.
    static neSimulatorSizes game(int32_t n)
    {
        neSimulatorSizes s;
        s.rigidBodiesCount = n;
        s.animatedBodiesCount = 16;
        s.rigidParticlesCount = 0;
        s.constraintSetsCount = n;
        s.overlappedPairsCount = 512;
        s.geometriesCount = 2 * n + 32;
        s.constraintsCount = 4;
        s.constraintHeadersCount = 4;
        s.extraCount8 = 80;
        return s;
    }
};

// What a caller of advanceThreeSteps may hand in to learn the cost of a step batch.
struct nePerformanceReport
{
    enum : uint32_t
    {
        lastCall = 1, // result = the last call's total; otherwise the running mean
    };
    float values[10]; // values[0] is the result, in seconds
    float accumulated;
    uint32_t unused[9];
    uint32_t mode;
    int32_t samples;
};

// The rigid-body engine's top object. It builds every pool once, hands out and
// takes back bodies, and advances the world in fixed steps. One step runs,
// in this order: sensor reset, body preparation (world boxes), broad phase,
// contact pairs, terrain contacts, force reset, constraint update, velocity
// update, stack marks, solver, integration and the constraint post-step.
//
// No lock guards it: creating, freeing and placing bodies must not overlap a
// step, and all stepping and callbacks run on the thread that advances it.
class neSimulator
{
public:
    using LogCallback = void (*)(char* text);

    // Null when the simulator cannot be allocated. No allocator: the
    // simulator's own neAllocatorDefault; no gravity: none.
    static neSimulator* createSimulator(const neSimulatorSizes& sizes, neAllocatorAbstract* allocator,
                                        const vec3d* gravity);
    ~neSimulator();
    neSimulator(const neSimulator&) = delete;
    neSimulator& operator=(const neSimulator&) = delete;

    // A reset body in its active list, or null when its pool is empty.
    neRigidBody* createRigidBody();
    neAnimatedBody* createAnimatedBody();
    // Gives the body and everything it holds back; anything but an in-use
    // body of a pool is logged and left alone.
    void freeBody(neRigidBodyBase* body);

    void setGravity(const vec3d& gravity);

    // Runs steps of about stepLength while at least minimumTime has built up;
    // the remainder carries over to the next call. The step length follows a
    // change of stepLength by at most a fifth per call.
    void advance(float time, float minimumTime, float stepLength);
    // Three steps of time / 3 (the physics thread's batch); the report, when
    // given, receives their cost.
    void advanceThreeSteps(nePerformanceReport* report, float time);

    // Response flags of a pair of bodies (bit 0 resolve, bit 1 report; 0 not
    // tested): two bodies without group never meet; one without group uses
    // the other's terrain response; a group outside 0..63 meets nothing.
    uint32_t pairResponse(const neRigidBodyBase& a, const neRigidBodyBase& b) const;
    uint32_t terrainResponseOf(const neRigidBodyBase& body) const;

    // Hands the message to the log callback when one is set and the log level is at least 1.
    void log(const char* message);

    neAllocatorAbstract& allocator() { return *alloc; }

    static constexpr int groupCount = 64;
    static constexpr int materialCount = 256;

    neSimulatorSizes sizes;
    nePerformanceReport* report = nullptr;
    PerfTimer timer;
    vec3d gravity;
    vec3d gravityDirection;
    float gravityMagnitude = 0.0f;
    float gravityMagnitudeScaled = 0.0f; // x 0.3
    uint32_t stepCount = 0;
    float stepLength = 0.0f;
    float inverseStepLength = 0.0f;
    float restThreshold = 1.0f;

    nePool<neRigidBody> rigidBodies;
    nePool<neAnimatedBody> animatedBodies;
    nePool<neRigidBody> rigidParticles;
    nePool<neController> controllers;
    nePool<neGeometry> geometries;
    nePool<neConstraintGroup> constraintGroups;
    nePool<neSensor> sensors;

    int32_t logLevel = 0;
    LogCallback logCallback = nullptr;
    float materials[materialCount][3];
    uint32_t stepIndexMod10 = 0;
    float accumulator = 0.0f;
    float lastStepLength = 0.0f;
    neRegion region;
    uint32_t groupResponse[groupCount][groupCount];
    uint32_t terrainResponse[groupCount];

    // The collision pass's working lists, sized from the geometry pool.
    neCollisionScratch collisionScratch;

    neList<neRigidBody> activeRigidBodies;
    neList<neRigidBody> inactiveRigidBodies;
    neList<neAnimatedBody> activeAnimatedBodies;
    neList<neAnimatedBody> inactiveAnimatedBodies;
    neList<neRigidBody> activeParticles;
    neList<neRigidBody> inactiveParticles;

private:
    neSimulator(const neSimulatorSizes& sizes, neAllocatorAbstract* allocator, const vec3d& gravity);

    void step();
    void freeAnimated(neAnimatedBody* body);
    void freeRigid(neRigidBody* body, nePool<neRigidBody>& pool, const char* invalid);
    void clearAnimatedMoves();

    neAllocatorDefault defaultAllocator;
    neAllocatorAbstract* alloc;
    char logText[128];
};
