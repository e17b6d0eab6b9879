#include "Physics/PhysicsManager.h"

#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsNoise.h"

#include "Entity/CollisionQuery.h"
#include "Landscape/Terrain.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace {

int64_t readCounter()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// The frame time kept at least shortestFrame long, within the allowed change
// of the previous one (none before the first) and at most longestFrame.
float limitFrameTime(float dt, float previous)
{
    if (!(dt >= EntityManager::PhysicsManager::shortestFrame))
        dt = EntityManager::PhysicsManager::shortestFrame;
    if (previous != 0.0f) {
        const double most = double(previous) * double(1.12f);
        const double least = double(previous) * double(0.88f);
        if (double(dt) > most)
            dt = float(most);
        if (double(dt) < least)
            dt = float(least);
    }
    return std::min(dt, EntityManager::PhysicsManager::longestFrame);
}

// The pieces of a frame of dt: each no longer than longestBatch.
int32_t piecesOf(float dt)
{
    return std::max(int32_t(std::ceil(dt / EntityManager::PhysicsManager::longestBatch - 1e-3f)), 1);
}

EntityManager::Physics* recordOf(neRigidBodyBase* body, uint32_t type)
{
    return body && type == neCollisionReport::rigid ? static_cast<EntityManager::Physics*>(body->owner[1]) : nullptr;
}

void deliver(EntityManager::Physics* record, EntityManager::Physics::Collision& collision)
{
    if (!record)
        return;
    if (record->noise)
        record->noise->onCollision(collision);
    if (record->collisionHandler)
        record->collisionHandler(record->owner, &collision);
}

}

void* EntityManager::PhysicsManager::neAllocator::alloc(size_t size, int32_t)
{
    allocatedBytes += size;
    return std::malloc(size);
}

void EntityManager::PhysicsManager::neAllocator::free(void* p) { std::free(p); }

EntityManager::PhysicsManager::~PhysicsManager() { release(); }

bool EntityManager::PhysicsManager::start(int32_t n)
{
    CRASH_TRACE();
    if (simulator)
        return true;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    counterFrequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    lastCounter = readCounter();
    previousFrameTime = 0.03f;
    rigidBodyCount = n;
    spareAnimatedCount = spareAnimatedBodies;
    threaded = 1;

    const vec3d gravity{0.0f, -9.81f, 0.0f};
    simulator = neSimulator::createSimulator(neSimulatorSizes::game(n), &allocator, &gravity);
    if (!simulator)
        return false;
    // Group 0, every body's, resolves and reports against bodies and ground.
    simulator->groupResponse[0][0] = 3;
    simulator->terrainResponse[0] = 3;
    simulator->collisionCallback = onCollision;
    simulator->terrainTriangleQueryCallback = queryTerrainTriangles;
    report.mode = nePerformanceReport::lastCall;
    rigidBodyBudget = n;

    if (spareAnimated.count() != spareAnimatedBodies)
        spareAnimated.resize(spareAnimatedBodies);
    spareAnimatedTop = 0;
    for (int32_t i = 0; i < spareAnimated.count(); ++i) {
        neAnimatedBody* body = simulator->createAnimatedBody();
        if (body && body->active)
            body->switchActive();
        if (body)
            *spareAnimated.at(spareAnimatedTop++) = body;
    }
    return true;
}

int32_t EntityManager::PhysicsManager::update()
{
    CRASH_TRACE();
    if (!simulator)
        return 1;
    if (paused) {
        pauseSeen = 1;
        return 1;
    }
    updated = 1;
    nowCounter = readCounter();
    const double measured = double(nowCounter - lastCounter) / double(counterFrequency);
    const float dt = limitFrameTime(float(measured), previousFrameTime);
    const int32_t pieces = piecesOf(dt);
    frameTime.store(dt);
    framePieces.store(pieces);
    previousFrameTime = dt;
    double stepped = double(steppedMicros.exchange(0)) * 1e-6;
    if (!threaded)
        stepped += advancePiece();
    // The frame that ends a pause also spans it: the paused time is no
    // frame, and the world did not fall behind in it.
    if (!pauseSeen)
        worldLag += measured - stepped;
    pauseSeen = 0;
    // The next frame time runs from here: a step made here does not count.
    lastCounter = readCounter();

    // The bodies are read only while no batch runs. A batch in progress (or
    // released and not yet begun) is told to go on once it ends, which its
    // own "done" overwrites; a batch that ends meanwhile is synced now.
    uint32_t state = stepState.load();
    for (;;) {
        if (state == done || !threadRuns()) {
            syncEntities();
            stepState.store(released);
            return pieces;
        }
        if (stepState.compare_exchange_weak(state, released))
            return pieces;
    }
}

float EntityManager::PhysicsManager::advancePiece()
{
    const float piece = pieceTime();
    simulator->advance(piece * 3.0f, 1.0f / 30.0f, 1.0f / 75.0f);
    return piece;
}

void EntityManager::PhysicsManager::stepPiece()
{
    CRASH_TRACE();
    if (!simulator || paused)
        return;
    if (threadRuns())
        waitForStepEnd();
    else if (threaded)
        stepBatch(&report);
    else
        worldLag -= advancePiece();
    syncEntities();
    stepState.store(released);
}

void EntityManager::PhysicsManager::syncEntities()
{
    for (auto* node = entities.head(); node; node = node->next)
        node->item->update();
}

uint32_t EntityManager::PhysicsManager::run(Thread& owner, uint32_t)
{
    CRASH_TRACE();
    while (!owner.stopRequested.load()) {
        if (simulator)
            stepBatch(&report);
        stepState.store(done);
        while (!owner.stopRequested.load() && stepState.load() == done)
            Sleep(0);
        stepState.store(running);
    }
    return 1;
}

void EntityManager::PhysicsManager::stepBatch(nePerformanceReport* into)
{
    const float dt = pieceTime();
    // The three steps of a longer frame outgrow what the quads' springs and
    // wheel contacts hold, and quads overturn and fly off on level ground.
    const int batches = piecesOf(dt);
    for (int i = 0; i < batches; ++i)
        simulator->advanceThreeSteps(into, dt * 4.2f / float(batches));
    steppedMicros.fetch_add(uint32_t(dt * 1e6f));
}

void EntityManager::PhysicsManager::waitForStepEnd()
{
    while (threadRuns() && stepState.load() != done)
        Sleep(0);
}

void EntityManager::PhysicsManager::stepOnce()
{
    CRASH_TRACE();
    // A batch already under way would end the wait below at once: let it
    // finish first, then ask for one of our own.
    waitForStepEnd();
    stepState.store(released);
    waitForStepEnd();
}

void EntityManager::PhysicsManager::release()
{
    CRASH_TRACE();
    thread.stop();
    while (auto* node = entities.head())
        node->item->release();
    if (simulator) {
        for (int32_t i = 0; i < spareAnimatedTop; ++i)
            simulator->freeBody(*spareAnimated.at(i));
        delete simulator;
        simulator = nullptr;
        spareAnimatedCount = 0;
    }
    spareAnimated.deleteArray();
    spareAnimatedTop = 0;
    rigidBodyBudget = 0;
}

neAnimatedBody* EntityManager::PhysicsManager::takeAnimatedBody()
{
    if (!simulator || spareAnimatedTop <= 0)
        return nullptr;
    return *spareAnimated.at(--spareAnimatedTop);
}

void EntityManager::PhysicsManager::returnAnimatedBody(neAnimatedBody* body)
{
    CRASH_TRACE();
    if (!body || !simulator)
        return;
    for (int32_t i = 0; i < spareAnimatedTop; ++i)
        if (*spareAnimated.at(i) == body)
            return;
    if (body->active)
        body->switchActive();
    while (body->geometryHead)
        body->removeGeometry(body->geometryHead);
    // A full stack has no room: the body goes back to the simulator.
    if (spareAnimatedTop >= spareAnimated.count()) {
        simulator->freeBody(body);
        return;
    }
    *spareAnimated.at(spareAnimatedTop++) = body;
}

void EntityManager::PhysicsManager::queryTerrainTriangles(const vec3d& boxMin, const vec3d& boxMax,
                                                          neTerrainTriangles& found, neRigidBodyBase* body)
{
    CRASH_TRACE();
    CollisionQuery& query = gCollisionQuery;
    query.boxMin = boxMin;
    query.boxMax = boxMax;
    query.centre = (boxMin + boxMax) * 0.5f;
    query.radiusSq = (boxMax - query.centre).lengthSq();
    query.radius = query.radiusSq > 0.0f ? fastSqrt(query.radiusSq) : 0.0f;
    query.triangleCount = 0;
    query.vertexCount = 0;
    found = {};

    EntityManager* manager = body ? static_cast<EntityManager*>(body->owner[0]) : nullptr;
    if (!manager)
        return;
    manager->collideEntities(query);
    // The static entities' triangles come first, the ground's after them.
    const uint32_t entityTriangles = query.triangleCount;
    gTerrain.cachePatchesInBox(query);

    found.candidates = query.candidates.data();
    found.candidateCount = int32_t(query.triangleCount);
    found.triangles = query.triangles.data();
    found.triangleCount = int32_t(query.triangleCount);
    found.vertices = query.vertices.data();
    found.vertexCount = int32_t(query.vertexCount);
    found.groundCount = int32_t(query.triangleCount - entityTriangles);
    // The arrays stay as they are until the next query, which starts empty.
    query.triangleCount = 0;
    query.vertexCount = 0;
}

void EntityManager::PhysicsManager::onCollision(neCollisionReport* report)
{
    if (!report)
        return;
    Physics* recordA = recordOf(report->bodyA, report->typeA);
    Physics* recordB = recordOf(report->bodyB, report->typeB);
    Physics::Collision a{report->localPointA, report->worldPointA, report->relativeVelocity, report->normal,
                         report->typeB, recordB ? recordB->owner : nullptr};
    Physics::Collision b{report->localPointB, report->worldPointB, report->relativeVelocity, report->normal,
                         report->typeA, recordA ? recordA->owner : nullptr};
    deliver(recordA, a);
    deliver(recordB, b);
}
