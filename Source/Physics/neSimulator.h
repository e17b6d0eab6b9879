#pragma once

#include "Physics/PerfTimer.h"
#include "Physics/neAllocator.h"
#include "Physics/neCollision.h"
#include "Physics/neConstraint.h"
#include "Physics/neConstraintGroup.h"
#include "Physics/neGrowArray.h"
#include "Physics/neRegion.h"
#include "Physics/neRigidBody.h"
#include "Physics/neStack.h"
#include "Physics/neTriangle.h"

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

// What the collision callback receives for one contact: the two sides in the
// pair's order (a terrain contact has no body B), their geometries and
// materials, the points and the normal from B towards A.
struct neCollisionReport
{
    enum : uint32_t
    {
        terrain = 0,
        rigid = 1,
        animated = 2,
    };
    neRigidBodyBase* bodyA;
    neRigidBodyBase* bodyB;
    uint32_t typeA;
    uint32_t typeB;
    neGeometry* geometryA;
    neGeometry* geometryB; // null for the terrain
    uint32_t userDataA;
    uint32_t userDataB; // for the terrain: the triangle's
    vec3d localPointA;  // in A's frame
    vec3d localPointB;  // in B's frame
    vec3d worldPointA;
    vec3d worldPointB;
    vec3d relativeVelocity; // A's point minus B's; zero when the contact was not resolved
    vec3d normal;
};

// What a custom collision callback fills for a body that tests its own
// collisions: the normal from the second body towards the first, both world
// points, how deep they overlap and both materials.
struct neCustomCollision
{
    vec3d normal;
    vec3d pointFirst;
    vec3d pointSecond;
    float depth;
    uint32_t userDataFirst;
    uint32_t userDataSecond;
};

// Triangles the simulator keeps itself as the ground, when no terrain query
// is installed. The arrays are the owner's and must outlive their use.
struct neTerrainMesh
{
    const vec3d* vertices;
    int32_t vertexCount;
    const neTriangle* triangles;
    int32_t triangleCount;
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
    using CollisionCallback = void (*)(neCollisionReport* report);
    // Hands over the triangles that reach into the body's world box; they
    // must stay as they are until the next query.
    using TerrainQueryCallback = void (*)(const vec3d& boxMin, const vec3d& boxMax, neTerrainTriangles& found,
                                          neRigidBodyBase* body);
    using BreakCallback = void (*)(neRigidBodyBase* body, uint32_t code, neGeometry* geometry, neRigidBody* piece);
    // Non-zero when the result was filled.
    using CustomCollisionCallback = int (*)(neRigidBody* first, neRigidBody* second, neCustomCollision* result);
    using CustomAnimatedCollisionCallback = int (*)(neRigidBody* rigid, neAnimatedBody* animated,
                                                    neCustomCollision* result);

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

    // Takes these triangles as the ground while no terrain query is
    // installed (an empty mesh removes it); false when its index cannot be
    // allocated.
    bool setTerrainMesh(const neTerrainMesh& mesh);

    // --- the contact stage ---

    // Resolves a contact of the pair (a, b) found this step.
    void respondToContact(neCollisionResult& result, neRigidBodyBase* a, neRigidBodyBase* b);
    // A contact breaks a piece off a breakable geometry: limits the impulse
    // that acts on the body; 1 when a piece came off.
    int testGeometryBreak(neGeometry* geometry, vec3d& impulse, neRigidBodyBase* body, const vec3d& worldPoint);
    // The geometry as a body of its own, or null (not the body's, its only
    // geometry, or no rigid body left).
    neRigidBody* splitGeometry(neRigidBodyBase* body, neGeometry* geometry);

    // --- the solver ---

    // Friction and restitution of a material (the table's first values for
    // an index the table does not have).
    const float* material(uint32_t index) const;
    // An orthonormal frame whose first row is n (a unit vector).
    static neM3 basis(const vec3d& n);
    // The impulse in the contact frame (normal last) that stops the contact's
    // approach within its friction cone, with the smaller restitution when asked.
    vec3d collisionImpulse(const neCollisionResult& record, bool restitution) const;
    // Mode 1: the collision impulse of an approaching contact; mode 2: the
    // resting-contact term.
    void applyContact(neCollisionResult& record, int mode);
    // Applies the row's impulse; the error left.
    float solveRecord(neCollisionResult& record);
    // Sweeps the row and contact lists (iterations -1: 4) and empties them.
    void iterate(int32_t iterations);

    // --- stacks ---

    neStack* takeStack(neStackElement* first);
    void freeStack(neStack* stack);
    // Moves every element of from to the end of into; from goes back to its pool.
    void mergeStacks(neStack* into, neStack* from);
    // Regroups a stack's members by their resting contacts.
    void rebuildStack(neStack* stack);
    // The stack's bodies into the working group, their resting contacts into the contact list.
    void walkStack(neStack* stack);
    neStackElement* takeElement(neRigidBody* body, uint32_t supportOnly);
    void releaseElement(neStackElement* element);
    // A body in no group joins the working group.
    void joinWorkingGroup(neRigidBodyBase* body);

    static constexpr int groupCount = 64;
    static constexpr int materialCount = 256;
    static constexpr float defaultMaterial[3] = {0.5f, 0.4f, 1.0f}; // friction, restitution, unused

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

    nePool<neConstraint> constraints;
    nePool<neStackElement> stackElements;
    nePool<neStack> stacks;
    neStack rootStack;
    neConstraintGroup workingGroup; // the bodies of the stacks being solved

    // The solver's lists: joint rows, resting contacts, stacks queued for
    // solving (the rebuild's work list too), stacks listed for marking and
    // the constraint groups gathered for one solve.
    neGrowArray<neCollisionResult> rows;
    neGrowArray<neCollisionResult> contacts;
    neGrowArray<neStack*> queuedStacks;
    neGrowArray<neStack*> listedStacks;
    neGrowArray<neStackElement*> workElements;
    neGrowArray<neConstraintGroup*> gatheredGroups;
    uint32_t passFlag = 0;      // 0 in an iteration run's first pass, else 1
    uint8_t lastIteration = 0;  // the last sweep pushes only body A
    int32_t heldAtRest = 0;     // bodies the rest test held in this step

    CollisionCallback collisionCallback = nullptr;
    TerrainQueryCallback terrainTriangleQueryCallback = nullptr;
    BreakCallback breakCallback = nullptr;
    CustomCollisionCallback customCollisionCallback = nullptr;
    CustomAnimatedCollisionCallback customAnimatedCollisionCallback = nullptr;

    // The terrain in contacts: a still pseudo-body with the query's triangles
    // as its one geometry.
    neAnimatedBody terrainBody;
    neGeometry terrainGeometry;
    neCollisionReport pairReport{};
    neCollisionReport terrainReport{};

    neList<neRigidBody> activeRigidBodies;
    neList<neRigidBody> inactiveRigidBodies;
    neList<neAnimatedBody> activeAnimatedBodies;
    neList<neAnimatedBody> inactiveAnimatedBodies;
    neList<neRigidBody> activeParticles;
    neList<neRigidBody> inactiveParticles;

private:
    neSimulator(const neSimulatorSizes& sizes, neAllocatorAbstract* allocator, const vec3d& gravity);

    void step();
    void collidePairs();
    void collideTerrain();
    void collideBodyWithTerrain(neRigidBody* body);
    bool queryTerrain(neRigidBody* body);
    void reportPair(const neCollisionResult& result, neRigidBodyBase* a, neRigidBodyBase* b);
    bool customContact(neCollisionResult& result, neRigidBodyBase* a, neRigidBodyBase* b);
    void solveConstraintGroups();
    void restAfterGroupSolve();
    void markStacks();
    void solverStage();
    void restingContactPass();
    void buildRestingRecord(neCollisionResult& record);
    float contactTerm(neCollisionResult& record, const vec3d& frameVelocity, bool resting);

    struct TerrainNode
    {
        vec3d lo, hi;
        int32_t first, count;
    };
    neTerrainMesh terrainMesh{};
    TerrainNode* terrainNodes = nullptr;
    int32_t terrainNodeCount = 0;
    int32_t* terrainNodeOrder = nullptr; // triangle indices, node by node
    neGrowArray<const TerrainNode*> terrainNodeList;
    neGrowArray<int32_t> terrainTriangleList;
    void releaseTerrainMesh();
    void freeAnimated(neAnimatedBody* body);
    void freeRigid(neRigidBody* body, nePool<neRigidBody>& pool, const char* invalid);
    void clearAnimatedMoves();

    neAllocatorDefault defaultAllocator;
    neAllocatorAbstract* alloc;
    char logText[128];
};
