#include "Physics/neSimulator.h"

#include "Physics/neConstraintGroup.h"

#include <cmath>
#include <cstring>
#include <new>

neSimulator* neSimulator::createSimulator(const neSimulatorSizes& sizes, neAllocatorAbstract* allocator,
                                          const vec3d* gravity)
{
    return new (std::nothrow) neSimulator(sizes, allocator, gravity ? *gravity : vec3d());
}

neSimulator::neSimulator(const neSimulatorSizes& s, neAllocatorAbstract* allocator, const vec3d& g)
    : sizes(s), alloc(allocator ? allocator : &defaultAllocator)
{
    setGravity(g);

    rigidBodies.build(*alloc, sizes.rigidBodiesCount);
    animatedBodies.build(*alloc, sizes.animatedBodiesCount);
    rigidParticles.build(*alloc, sizes.rigidParticlesCount);
    region.build(this, *alloc, sizes.rigidBodiesCount, sizes.animatedBodiesCount, sizes.rigidParticlesCount,
                 sizes.overlappedPairsCount);

    for (auto& m : materials)
        for (int i = 0; i < 3; ++i)
            m[i] = defaultMaterial[i];
    for (auto& row : groupResponse)
        for (uint32_t& r : row)
            r = 1;
    for (uint32_t& r : terrainResponse)
        r = 1;

    terrainNodeList.build(*alloc, 100, 0);
    terrainTriangleList.build(*alloc, 200, 200);
    constraintGroups.build(*alloc, sizes.constraintHeadersCount);
    const int32_t stacked = (sizes.rigidBodiesCount > 0 ? sizes.rigidBodiesCount : 0)
                            + (sizes.rigidParticlesCount > 0 ? sizes.rigidParticlesCount : 0);
    stackElements.build(*alloc, stacked);
    stacks.build(*alloc, stacked + 100);
    controllers.build(*alloc, sizes.constraintSetsCount);
    sensors.build(*alloc, sizes.sensorsCount);
    geometries.build(*alloc, sizes.geometriesCount);
    constraints.build(*alloc, sizes.constraintsCount);
    queuedStacks.build(*alloc, 1000, 100);
    listedStacks.build(*alloc, 1000, 100);
    rows.build(*alloc, 100, -1);
    contacts.build(*alloc, 100, 100);
    workElements.build(*alloc, stacked > 0 ? stacked : 1, 100);
    gatheredGroups.build(*alloc, sizes.constraintHeadersCount > 0 ? sizes.constraintHeadersCount : 1, 100);
    collisionScratch.build(*alloc, sizes.geometriesCount);

    rootStack = neStack{};
    rootStack.simulator = this;
    rootStack.root = 1;
    terrainBody.reset();
    terrainBody.transform = matrix3d::identity();
    terrainBody.moved = 0;
    terrainBody.id = UINT32_MAX;
    terrainBody.simulator = this;
    terrainBody.next = terrainBody.prev = nullptr;
    terrainBody.inUse = 1;
    terrainGeometry.reset();
    terrainGeometry.type = neShapeTerrain;
    terrainGeometry.shape.terrain = {};
    terrainGeometry.next = terrainGeometry.prev = nullptr;

    timer.init();
    logText[0] = 0;
}

neSimulator::~neSimulator()
{
    releaseTerrainMesh();
    terrainNodeList.release();
    terrainTriangleList.release();
    queuedStacks.release();
    listedStacks.release();
    rows.release();
    contacts.release();
    workElements.release();
    gatheredGroups.release();
    constraints.release(*alloc);
    stacks.release(*alloc);
    stackElements.release(*alloc);
    collisionScratch.release(*alloc);
    region.release(*alloc);
    geometries.release(*alloc);
    sensors.release(*alloc);
    controllers.release(*alloc);
    constraintGroups.release(*alloc);
    rigidParticles.release(*alloc);
    animatedBodies.release(*alloc);
    rigidBodies.release(*alloc);
}

void neSimulator::setGravity(const vec3d& g)
{
    gravity = g;
    const float lengthSq = g.lengthSq();
    gravityMagnitude = fastSqrt(lengthSq);
    if (!std::isfinite(gravityMagnitude))
        gravityMagnitude = 0.0f;
    gravityDirection = (g.x != 0.0f || g.y != 0.0f || g.z != 0.0f) && gravityMagnitude > 0.0f ? g / gravityMagnitude : vec3d();
    gravityMagnitudeScaled = gravityMagnitude * 0.3f;
}

void neSimulator::log(const char* message)
{
    if (logLevel < 1 || !logCallback)
        return;
    std::strncpy(logText, message, sizeof(logText) - 1);
    logText[sizeof(logText) - 1] = 0;
    logCallback(logText);
}

neRigidBody* neSimulator::createRigidBody()
{
    neRigidBody* body = rigidBodies.take();
    if (!body) {
        log("Run out of RigidBodies. Increase 'rigidBodiesCount'.\n");
        return nullptr;
    }
    body->reset();
    activeRigidBodies.pushBack(body);
    body->id = uint32_t(rigidBodies.indexOf(body));
    body->particle = 0;
    body->geometryCount = 0;
    body->simulator = this;
    return body;
}

neAnimatedBody* neSimulator::createAnimatedBody()
{
    neAnimatedBody* body = animatedBodies.take();
    if (!body)
        return nullptr;
    body->reset();
    body->transform = matrix3d::identity();
    body->moved = 0;
    body->id = uint32_t(animatedBodies.indexOf(body) + sizes.rigidBodiesCount);
    body->simulator = this;
    activeAnimatedBodies.pushBack(body);
    return body;
}

void neSimulator::freeBody(neRigidBodyBase* body)
{
    // The pool is found from the address alone: a stale or foreign pointer is
    // never read before it is known to be an in-use record.
    if (animatedBodies.owns(body)) {
        neAnimatedBody* a = static_cast<neAnimatedBody*>(body);
        if (!a->inUse) {
            log("Trying to Free invalid AnimatedBody.\n");
            return;
        }
        freeAnimated(a);
    } else if (rigidParticles.owns(body)) {
        freeRigid(static_cast<neRigidBody*>(body), rigidParticles, "Trying to Free invalid RigidParticle.\n");
    } else if (rigidBodies.owns(body)) {
        freeRigid(static_cast<neRigidBody*>(body), rigidBodies, "Trying to Free invalid RigidBody.\n");
    } else {
        log("Trying to Free invalid RigidBody.\n");
    }
}

void neSimulator::freeAnimated(neAnimatedBody* body)
{
    body->releaseGeometries();
    body->dropRestingPartners();
    (body->active ? activeAnimatedBodies : inactiveAnimatedBodies).remove(body);
    animatedBodies.give(body);
}

void neSimulator::freeRigid(neRigidBody* body, nePool<neRigidBody>& pool, const char* invalid)
{
    if (!body->inUse) {
        log(invalid);
        return;
    }
    body->release();
    if (body->particle)
        (body->active ? activeParticles : inactiveParticles).remove(body);
    else
        (body->active ? activeRigidBodies : inactiveRigidBodies).remove(body);
    pool.give(body);
}

uint32_t neSimulator::terrainResponseOf(const neRigidBodyBase& body) const
{
    const int32_t g = body.collisionGroup;
    return g >= 0 && g < groupCount ? terrainResponse[g] : 0;
}

uint32_t neSimulator::pairResponse(const neRigidBodyBase& a, const neRigidBodyBase& b) const
{
    const int32_t ga = a.collisionGroup, gb = b.collisionGroup;
    if (ga == -1 && gb == -1)
        return 0;
    if (ga == -1)
        return terrainResponseOf(b);
    if (gb == -1)
        return terrainResponseOf(a);
    if (ga < 0 || ga >= groupCount || gb < 0 || gb >= groupCount)
        return 0;
    return groupResponse[ga][gb];
}
