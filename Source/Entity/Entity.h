#pragma once
// One dynamic object of the scene as the renderer and the physics see it: a
// world transform, the boxes that bound it and its sub-entities, each drawing
// a stored mesh. Dynamic objects and trees derive from it and override the
// hooks; their owners move it by setting world and calling onMoved.
//
// An entity joins its manager's list with its first sub-entity and leaves it
// when destroyed; clear empties it (waiting for the contact pass) and it can
// be filled again. Main thread only.

#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"
#include "Entity/SubEntity.h"

#include "Core/BoundingBox.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/SCList.h"

#include <cstdint>

class EntityManager::Entity
{
public:
    using SourceMesh = Mesh<MeshVertex, 274>;
    using StateCallback = SubEntity::StateCallback;

    // Visibility classes of the last entity pass (before the first: unseen).
    static constexpr uint32_t unseen = 10;

    explicit Entity(EntityManager& manager);
    // clear, then leaves the manager's list.
    virtual ~Entity();
    Entity(const Entity&) = delete;
    Entity& operator=(const Entity&) = delete;

    // updatePlacement, one more change, and the moved flag when a
    // sub-entity's own matrix moved.
    virtual void onMoved();
    // Once a frame, before the first entity pass that finds it visible
    // draws it: the per-frame work of its drawing (poses, spins, flicker).
    virtual void prepareRender() {}
    // After the caster pass, for a shown entity whose box meets the
    // volume: true when the entity drew a shadow of its own.
    virtual bool renderShadowCaster() { return false; }
    // Around every entity pass that finds it visible (a frame may draw it
    // more than once): what each pass needs, nothing that advances.
    virtual void beforeRender() {}
    virtual void afterRender() {}
    // After the caster pass drew sub of this entity: non-zero when the hook
    // changed the device's buffers (the pass binds the mesh again).
    virtual uint32_t afterShadowDraw(SubEntity& sub)
    {
        (void)sub;
        return 0;
    }
    // Every frame, from the application's update.
    virtual void update() {}
    // Every frame, before the projections are assigned.
    virtual void prepare() {}

    // A sub-entity drawing the stored mesh named like source (made from
    // source when there is none, or always with forceNew). A sub-entity on
    // the entity's transform grows the local box by the mesh's box. Null when
    // memory ran out.
    SubEntity* addStoredMesh(SourceMesh& source, bool forceNew, bool ownMatrix, StateCallback recordStates,
                             StateCallback beforeDraw);
    SubEntity* addSubEntity(StoredMesh& mesh, bool ownMatrix, StateCallback recordStates, StateCallback beforeDraw);

    // Recomputes the own matrices, the boxes and the cells; a change of cells
    // re-places every sub-entity. True when an own matrix moved.
    bool updatePlacement();
    // Deletes the sub-entities and the physics record and resets the boxes,
    // cells, flags and change count; waits for the contact pass first, and
    // with a physics record for the end of the running step batch. The
    // projections' entries forget the entity's links.
    void clear();
    // Takes the entity's links out of the projections' entries; no links
    // are left.
    void forgetLinks();
    void markSubEntitiesMoved();
    // Draws every sub-entity now, outside the octrees (the menu's showroom),
    // then once more under each projection linked to the entity.
    void renderImmediate();

    // The cells of the world box; unplaced while the entity has no place.
    CellBox cells;
    uint32_t hidden = 0;
    // Left out of passes while ANDed with the device's mirrored word non-zero.
    uint32_t reflectionMask = 0;
    // Projections render shadow maps per sub-entity instead of per entity.
    uint32_t perPartShadow = 1;
    // Beside the flags: the walks read both for every part they meet.
    BoundingBox worldBounds{{}, 1.0f, 1.0f, {}, {}};
    matrix3d world = matrix3d::identity();
    OrientedBox worldBox;
    SCList<SubEntity> subEntities;
    // Projections render shadow maps for entities whose origin lies within
    // this squared distance of the camera.
    float shadowRangeSq = 78400.0f;
    // Null once the manager went first.
    EntityManager* manager;
    // The bound of the meshes on the entity's transform; empty (all zero)
    // until the first.
    BoundingBox localBox{{}, 1.0f, 1.0f, {}, {}};
    // The entity's physics record (owned; clear deletes it), or null.
    Physics* physics = nullptr;
    uint32_t changeCount = 0;
    SCList<Entity>::Node* listNode = nullptr;
    // 3 inside, 4 outside, 5 intersecting the view at the last entity pass.
    uint32_t visibility = unseen;
    // Set by onMoved when an own matrix moved; the projection assignment clears it.
    uint32_t moved = 0;
    // The projections that reach the entity, the first linkCount of links
    // (rebuilt by EntityManager::assignTexProjs; addresses stay put until then).
    DynArray<EntityTexProj> links{2};
    uint32_t linkCount = 0;
    // The manager's frame of the last prepareRender (none before the first).
    uint32_t preparedFrame = ~0u;
};
