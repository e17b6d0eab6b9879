#pragma once
// The entity manager: every dynamic object that carries meshes.
//
// Entities (Entity.h) are made and deleted by their owners; each enters the
// manager's entity list with its first sub-entity and leaves it when it is
// destroyed. Sub-entities (SubEntity.h) draw shared stored meshes
// (StoredMesh.h) and are sorted into one octree per stored mesh
// (MeshOctree.h), so a pass binds a mesh once and draws what survives culling.
//
// Threads: everything runs on the main thread except the contact pass, which
// the physics thread runs inside the simulator's step. Entity changes and the
// contact pass exclude each other through changing and physicsBusy: a change
// holds a Change for its duration, the pass runs only between a successful
// beginContactPass and endContactPass.

#include <SceneOctree.h>

#include "Core/SCList.h"
#include "Core/Vector.h"

#include <atomic>
#include <cstdint>

class EntityManager
{
public:
    // The vertex of entity and package meshes: flexible vertex format 274
    // (position, normal, one uv pair).
    struct MeshVertex
    {
        vec3d position;
        vec3d normal;
        vec2d uv;
    };

    class Entity;
    class SubEntity;
    class StoredMesh;
    struct MeshOctree;
    struct RayQuery;
    // The physics side of an entity, defined by the physics manager.
    class Physics;

    using Octree = SceneOctree<SubEntity, SceneOctreeEmpty>;
    // The edge of an octree cell in world units.
    static constexpr float cellSize = 512.0f;

    // Holds an entity change against the contact pass: waits (1 ms sleeps)
    // while the pass runs, then keeps it out until destroyed. Changes may
    // nest. Main thread.
    class Change
    {
    public:
        explicit Change(EntityManager* manager);
        ~Change();
        Change(const Change&) = delete;
        Change& operator=(const Change&) = delete;

    private:
        EntityManager* manager_;
    };

    EntityManager() = default;
    EntityManager(const EntityManager&) = delete;
    EntityManager& operator=(const EntityManager&) = delete;
    // Empties every entity still listed (its sub-entities go, the entity
    // stays its owner's, detached from the manager), then releases the mesh
    // octree records.
    ~EntityManager();

    // Physics thread: true when no change is under way, and then no change
    // starts until endContactPass. False: the pass must not run this step.
    bool beginContactPass();
    void endContactPass();

    // One record per stored mesh that has sub-entities.
    SCList<MeshOctree> meshOctrees;
    // Every entity that has had a sub-entity, in the order they came.
    SCList<Entity> entities;
    // Non-zero while the main thread changes entities (a count of nested
    // changes); the contact pass stays out meanwhile.
    std::atomic<uint32_t> changing{0};
    // 1 while the contact pass runs; changes wait meanwhile.
    std::atomic<uint32_t> physicsBusy{0};
};
static_assert(sizeof(EntityManager::MeshVertex) == 32);
