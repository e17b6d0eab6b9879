#pragma once
// Entities with bodies for the physics manager's tests: a flat ground made by
// the content builder's terrain writer and loaded into the global terrain,
// boxes whose entities count their moves, and a controller that counts the
// steps it saw.
#include "TerrainMapWriter.h"

#include "Entity/CollisionBody.h"
#include "Entity/Entity.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <atomic>
#include <memory>

namespace ManagerTest {

using Physics = EntityManager::Physics;
using PhysicsManager = EntityManager::PhysicsManager;

// The global terrain flat at one height, as long as this lives.
class FlatGround
{
public:
    FlatGround()
    {
        TerrainMapWriter::Map map;
        map.size = 128;
        map.heights.assign(size_t(map.size) * size_t(map.size), 20000);
        FileArray stream(1 << 16);
        loaded = TerrainMapWriter::write(map, stream);
        stream.seek(0, 0);
        Terrain::Settings settings;
        loaded = loaded && gTerrain.load(nullptr, settings, stream);
        centre = gTerrain.box.center;
        height = gTerrain.getHeight(centre.x, centre.z, 3);
    }
    ~FlatGround() { gTerrain.clear(); }

    bool loaded = false;
    vec3d centre;
    float height = 0.0f;
};

// An entity with a box-shaped body; it counts its moves.
class BoxEntity : public EntityManager::Entity
{
public:
    BoxEntity(EntityManager& manager, const vec3d& at, const vec3d& size = {1.0f, 1.0f, 1.0f}, float mass = 10.0f)
        : Entity(manager)
    {
        physics = new Physics(*this, mass);
        if (!body())
            return;
        BoundingBox box;
        box.minimum = size * -0.5f;
        box.maximum = size * 0.5f;
        shape.addGeometry(nullptr)->setBox(box);
        shape.attachToBody(body());
        shape.syncTransforms();
        body()->updateBounds();
        matrix3d pose = matrix3d::identity();
        pose.setRow(3, at);
        body()->setPose(pose);
    }
    ~BoxEntity() override
    {
        if (manager)
            manager->physicsManager->waitForStepEnd();
        shape.clear();
    }

    void onMoved() override
    {
        Entity::onMoved();
        ++moves;
    }

    neRigidBody* body() const { return physics && physics->rigidBody ? physics->rigidBody->body : nullptr; }
    vec3d position() const { return world.row(3); }

    EntityManager::CollisionBody shape;
    int moves = 0;
};

// The manager's next update measures a frame of ms, however long the machine
// took since the last.
inline void frameOf(PhysicsManager& m, double ms)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    m.lastCounter = now.QuadPart - int64_t(ms * 0.001 * double(m.counterFrequency));
}

// Counts the steps of its body (on the stepping thread) and pushes nothing.
// While hold is set, the first step of a batch waits until it is cleared,
// with holding set, so a test can act in the middle of a batch.
class StepCounter : public Physics::Controller
{
public:
    void step(neRigidBody*) override
    {
        if (steps.fetch_add(1) % 3 != 0 || !hold.load())
            return;
        holding.store(true);
        while (hold.load())
            Sleep(0);
        holding.store(false);
    }
    std::atomic<uint32_t> steps{0};
    std::atomic<bool> hold{false};
    std::atomic<bool> holding{false};
};

}
