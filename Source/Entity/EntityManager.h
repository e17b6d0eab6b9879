#pragma once
// The entity manager: every dynamic object that carries meshes.
//
// Entities (Entity.h) are made and deleted by their owners; each enters the
// manager's entity list with its first sub-entity and leaves it when it is
// destroyed. Sub-entities (SubEntity.h) draw shared stored meshes
// (StoredMesh.h) and are sorted into one octree per stored mesh
// (MeshOctree.h), so a pass binds a mesh once and draws what survives culling.
//
// The render device's swap chain owns one manager: its update calls
// assignTexProjs, its frame passes render, the shadow maps the two caster
// passes, its device-loss hooks the state-block hooks. The application calls
// update every frame; lens flares cast rays through intersectRay.
//
// Texture projections (lights, shadows, projected textures) register with
// the manager as a receiver. Each frame assignTexProjs links every entity to
// the projections whose volume holds it; the projection pass of render draws
// each linked entity once more under each of them.
//
// Threads: everything runs on the main thread except the contact pass, which
// the physics thread runs inside the simulator's step. Entity changes and the
// contact pass exclude each other through changing and physicsBusy: a change
// holds a Change for its duration, the pass runs only between a successful
// beginContactPass and endContactPass.

#include <SceneOctree.h>

#include "Render/ShadowCasters.h"

#include "Core/ConvexVolume.h"
#include "Core/DynArray.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <atomic>
#include <cstdint>
#include <memory>

class TextureProj;
struct CollisionQuery;

class EntityManager : public ShadowCasters
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
    class CollisionBody;
    struct MeshOctree;
    struct RayQuery;
    struct TexProjEntry;
    // The physics side of an entity (Physics/EntityPhysics.h) and the
    // simulator with its thread (Physics/PhysicsManager.h).
    class Physics;
    class PhysicsManager;

    using Octree = SceneOctree<SubEntity, SceneOctreeEmpty>;
    // The edge of an octree cell in world units.
    static constexpr float cellSize = 512.0f;

    // One entity reached by one projection this frame. Entities keep theirs
    // in an array; the projection's entry holds their addresses.
    struct EntityTexProj
    {
        TexProjEntry* entry = nullptr; // null once the projection went
        Entity* entity = nullptr;
    };

    // A projection the manager receives and the links it made this frame
    // (the first count of links; a slot is null once its entity was cleared).
    struct TexProjEntry
    {
        TextureProj* projection = nullptr;
        DynArray<EntityTexProj*> links{16};
        uint32_t count = 0;
        SCList<TexProjEntry>::Node* listNode = nullptr;
    };

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

    EntityManager();
    EntityManager(const EntityManager&) = delete;
    EntityManager& operator=(const EntityManager&) = delete;
    // Releases the physics (the application stopped its thread before),
    // empties every entity still listed (its sub-entities go, the entity
    // stays its owner's, detached from the manager), leaves every projection
    // it receives, then releases the mesh octree records.
    ~EntityManager() override;

    // The receiver side of projections. A projection added twice is linked
    // once; removing one that was never added changes nothing. Removing one
    // nulls the links entities still hold to it.
    void addTexProj(TextureProj* projection) override;
    void removeTexProj(TextureProj* projection) override;

    // Enters entity into the list when it is not listed yet: an entity
    // without sub-entities that draws itself (an oil puddle) joins so.
    // False when memory ran out or the entity belongs to another manager.
    bool listEntity(Entity& entity);
    // Every entity's update, in list order (the application's frame update).
    void update();
    // Every entity's prepare; each shown entity is linked to every enabled
    // projection whose volume does not hold its box outside, the entries
    // list the links, and the entities' moved flags are cleared.
    void assignTexProjs();
    // A new frame of the device: the entities shown in it prepare their
    // drawing again (the swap chain's beginFrame).
    void beginFrame() { ++frame_; }
    // The entity pass under the current camera: classifies every entity
    // against the view, draws the visible sub-entities mesh by mesh, and
    // with projections set the projection pass. beforeRender and
    // afterRender bracket it for every shown entity not outside the view;
    // the first pass of a frame that shows an entity prepares it
    // (prepareRender), the frame's other passes (the water's mirror, the
    // effect scene, the occlusion pass) draw it as prepared.
    void render(uint32_t projections);
    // The projection pass: every link of every enabled projection.
    void renderProjections();
    // One entity drawn once more under one projection: lights aim at it and
    // shadows render their maps for it first (through the swap chain being
    // drawn).
    void renderProjection(EntityTexProj& link);

    // The caster passes of the shadow maps (ShadowCasters). Casters are
    // shown sub-entities whose entity box is not outside volume; still
    // becomes 0 when a counted caster moves (a body not at rest, or for an
    // entity without physics a moved sub-entity).
    int32_t findCastersInVolume(const ConvexVolume& volume, const void* excluded, uint32_t* still) override;
    uint32_t renderShadowCasters(const ConvexVolume& volume, uint32_t* still) override;

    // After a device reset, and before one.
    void recordAllStateBlocks();
    void releaseAllStateBlocks();

    // The nearest triangle of a sub-entity at or above minLayer (of a shown
    // entity) on the segment from origin to end: end moves to the hit, the
    // distance and the sub-entity go out when asked for, and the hit
    // triangle's normal, turned into the world, is left in lastHitNormal.
    // False, end unchanged, when nothing is hit (always for a segment of
    // length 0).
    bool intersectRay(const vec3d& origin, vec3d& end, int32_t minLayer, float* distance = nullptr,
                      SubEntity** hit = nullptr);
    // The contact pass (physics thread): appends to query the triangles of
    // static entities (no physics record) that touch its box. Nothing while
    // an entity change is under way: false then.
    bool collideEntities(CollisionQuery& query);

    // The two states the projected light draw and the entity pass bracket
    // their draws with: normalised normals, stage 0 alpha from the texture
    // factor; and back.
    static void setProjectedStates();
    static void resetProjectedStates();

    // Physics thread: true when no change is under way, and then no change
    // starts until endContactPass. False: the pass must not run this step.
    bool beginContactPass();
    void endContactPass();

    // One record per stored mesh that has sub-entities.
    SCList<MeshOctree> meshOctrees;
    // The simulator of the entities' bodies; never null.
    const std::unique_ptr<PhysicsManager> physicsManager;
    // Every entity that has had a sub-entity, in the order they came.
    SCList<Entity> entities;
    SCList<TexProjEntry> projections;
    // Non-zero while the main thread changes entities (a count of nested
    // changes); the contact pass stays out meanwhile.
    std::atomic<uint32_t> changing{0};
    // 1 while the contact pass runs; changes wait meanwhile.
    std::atomic<uint32_t> physicsBusy{0};

    // The normal of the last ray hit on this thread, in world space.
    static thread_local vec3d lastHitNormal;

private:
    // Calls visit(entity, sub) for every caster in volume, octree by octree
    // (visit returns false to end the walk); mesh(record) runs before an
    // octree's first caster.
    template <class Mesh, class Visit>
    void walkCasters(const ConvexVolume& volume, Mesh mesh, Visit visit);

    // Scratch of the walks: the caster walks' node stack (main thread) and
    // the contact pass's stacks (physics thread).
    DynArray<const Octree*> casterStack_{32};
    // Counts the device's frames (beginFrame).
    uint32_t frame_ = 0;
    struct ContactStacks;
    ContactStacks* contactStacks_ = nullptr;
};
static_assert(sizeof(EntityManager::MeshVertex) == 32);
