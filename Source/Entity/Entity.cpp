#include "Entity/Entity.h"

#include "Entity/MeshOctree.h"
#include "Entity/StoredMesh.h"

#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Render/D3DDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <new>

namespace {

bool isZero(const vec3d& v)
{
    return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}

// Grows the box low..high over minimum..maximum; a box zero on all six
// values is replaced.
void extend(vec3d& low, vec3d& high, const vec3d& minimum, const vec3d& maximum)
{
    if (isZero(low) && isZero(high)) {
        low = minimum;
        high = maximum;
        return;
    }
    MeshGeometry::widen(low, high, minimum);
    MeshGeometry::widen(low, high, maximum);
}

vec3d columnSumsOf(const matrix3d& m)
{
    return {m.m[0] + m.m[4] + m.m[8] + m.m[12], m.m[1] + m.m[5] + m.m[9] + m.m[13],
            m.m[2] + m.m[6] + m.m[10] + m.m[14]};
}

}

EntityManager::Entity::Entity(EntityManager& owner) : manager(&owner)
{
    worldBox.axes[0] = {1.0f, 0.0f, 0.0f};
    worldBox.axes[1] = {0.0f, 1.0f, 0.0f};
    worldBox.axes[2] = {0.0f, 0.0f, 1.0f};
}

EntityManager::Entity::~Entity()
{
    clear();
    if (manager && listNode)
        manager->entities.unlink(listNode);
}

void EntityManager::Entity::onMoved()
{
    if (updatePlacement())
        moved = 1;
    ++changeCount;
}

EntityManager::SubEntity* EntityManager::Entity::addStoredMesh(SourceMesh& source, bool forceNew, bool ownMatrix,
                                                                StateCallback recordStates, StateCallback beforeDraw)
{
    CRASH_TRACE();
    if (!manager)
        return nullptr;
    StoredMesh* mesh = forceNew ? nullptr : StoredMesh::findByName(*source.getName());
    if (!mesh)
        mesh = new (std::nothrow) StoredMesh(source, false);
    if (!mesh)
        return nullptr;
    if (!ownMatrix) {
        vec3d minimum, maximum;
        mesh->box.alignedBounds(minimum, maximum);
        extend(localBox.minimum, localBox.maximum, minimum, maximum);
        localBox.center = (localBox.minimum + localBox.maximum) * 0.5f;
    }
    return addSubEntity(*mesh, ownMatrix, std::move(recordStates), std::move(beforeDraw));
}

EntityManager::SubEntity* EntityManager::Entity::addSubEntity(StoredMesh& mesh, bool ownMatrix,
                                                               StateCallback recordStates, StateCallback beforeDraw)
{
    if (!manager)
        return nullptr;
    if (!listNode && !(listNode = manager->entities.append(this)))
        return nullptr;
    // A new part enters a mesh's octree, and may bring a new octree to the
    // list: the contact pass must not walk either meanwhile.
    Change change(manager);
    SubEntity* sub = new (std::nothrow) SubEntity(*this, mesh, ownMatrix, std::move(recordStates),
                                                  std::move(beforeDraw));
    if (sub && (!sub->octree || !sub->entityEntry)) {
        delete sub;
        return nullptr;
    }
    // Sub-entities of one entity share its cells: bring them up to date now,
    // so the new part never waits in a node that may not hold it.
    updatePlacement();
    return sub;
}

bool EntityManager::Entity::updatePlacement()
{
    bool anyMoved = false;
    vec3d low = localBox.minimum, high = localBox.maximum;
    for (auto* entry = subEntities.head(); entry; entry = entry->next) {
        SubEntity& sub = *entry->item;
        if (sub.hasOwnMatrix) {
            if (sub.followsEntity)
                sub.own = sub.local * world;
            sub.localBox = sub.mesh().box.carried(sub.local);
            const vec3d sums = columnSumsOf(sub.own);
            sub.moved = sums == sub.columnSums ? 0 : 1;
            sub.columnSums = sums;
        }
        anyMoved |= sub.moved != 0;
        vec3d minimum, maximum;
        sub.localBox.alignedBounds(minimum, maximum);
        extend(low, high, minimum, maximum);
    }

    OrientedBox local;
    local.center = (low + high) * 0.5f;
    local.axes[0] = {1.0f, 0.0f, 0.0f};
    local.axes[1] = {0.0f, 1.0f, 0.0f};
    local.axes[2] = {0.0f, 0.0f, 1.0f};
    local.halfExtents = (high - low) * 0.5f;
    const float radius = worldBox.radius, radiusSq = worldBox.radiusSq;
    worldBox = local.carried(world);
    worldBox.radius = radius;
    worldBox.radiusSq = radiusSq;
    worldBox.alignedBounds(worldBounds.minimum, worldBounds.maximum);
    worldBounds.center = worldBox.center;
    worldBounds.radiusSq = (worldBounds.maximum - worldBounds.center).lengthSq();
    worldBounds.radius = fastSqrt(worldBounds.radiusSq);

    const CellBox placed = SceneCells::truncatedBox(worldBounds.minimum, worldBounds.maximum, cellSize);
    if (!(placed == cells)) {
        // Moving to other cells relinks the parts and may grow, prune and
        // recycle octree nodes under the contact pass's walk; moves within
        // the cells touch no node and stay free.
        Change change(manager);
        cells = placed;
        for (auto* entry = subEntities.head(); entry; entry = entry->next)
            entry->item->octree->place(*entry->item, cells);
    }
    return anyMoved;
}

void EntityManager::Entity::clear()
{
    CRASH_TRACE();
    Change change(manager);
    // The record's body must not go while a step batch runs.
    if (physics && manager)
        manager->physicsManager->waitForStepEnd();
    worldBox.center = vec3d();
    worldBox.axes[0] = {1.0f, 0.0f, 0.0f};
    worldBox.axes[1] = {0.0f, 1.0f, 0.0f};
    worldBox.axes[2] = {0.0f, 0.0f, 1.0f};
    worldBox.halfExtents = vec3d();
    localBox.center = localBox.minimum = localBox.maximum = vec3d();
    cells = CellBox();
    hidden = 0;
    reflectionMask = 0;
    changeCount = 0;
    visibility = unseen;
    while (auto* entry = subEntities.head())
        delete entry->item;
    forgetLinks();
    delete physics;
    physics = nullptr;
}

void EntityManager::Entity::forgetLinks()
{
    EntityTexProj* own = links.data();
    for (uint32_t i = 0; own && i < linkCount; ++i) {
        TexProjEntry* entry = own[i].entry;
        if (!entry)
            continue;
        EntityTexProj** slots = entry->links.data();
        for (uint32_t k = 0; slots && k < entry->count; ++k)
            if (slots[k] == &own[i])
                slots[k] = nullptr;
    }
    linkCount = 0;
}

void EntityManager::Entity::markSubEntitiesMoved()
{
    for (auto* entry = subEntities.head(); entry; entry = entry->next)
        entry->item->moved = 1;
}

void EntityManager::Entity::renderImmediate()
{
    if (!gDevice)
        return;
    gDevice->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    for (auto* entry = subEntities.head(); entry; entry = entry->next) {
        StoredMesh& mesh = entry->item->mesh();
        if (!mesh.vertexBuffer || !mesh.indexBuffer)
            continue;
        mesh.bind();
        entry->item->render();
    }
    gDevice->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    if (!manager)
        return;
    for (uint32_t i = 0; i < linkCount; ++i)
        if (EntityTexProj* link = links.at(int32_t(i)); link->entry)
            manager->renderProjection(*link);
}
