#include "Entity/MeshOctree.h"

#include "Entity/CollisionQuery.h"
#include "Entity/TriangleTreeQueries.h"

#include "Render/Shader.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <new>

namespace {

// Moves on with every change that may give a record a sub-entity of an
// entity without physics (never 0, which marks a record never checked).
std::atomic<uint32_t> contactChanges{1};

// Whether any sub-entity below node belongs to an entity without a physics
// record: only those can give the contact walk triangles.
bool holdsEntityWithoutPhysics(const EntityManager::Octree* node)
{
    if (!node)
        return false;
    for (auto* item = node->items.head(); item; item = item->next)
        if (!item->item->entity->physics)
            return true;
    for (const EntityManager::Octree* child : node->children)
        if (holdsEntityWithoutPhysics(child))
            return true;
    return false;
}

// Appends a triangle carried into world space as three new vertices, the
// triangle naming them and its candidate entry. False when an array cannot
// grow (nothing is counted then).
bool appendTriangle(CollisionQuery& query, const matrix3d& world, const triangle3dex& triangle)
{
    const int32_t first = int32_t(query.vertexCount);
    const int32_t number = int32_t(query.triangleCount);
    neTriangle* record = query.triangles.at(number);
    int* candidate = query.candidates.at(number);
    if (!record || !candidate || !query.vertices.at(first + 2))
        return false;
    vec3d* vertices = query.vertices.data() + first;
    for (int k = 0; k < 3; ++k) {
        vertices[k] = world.transformPoint(triangle.corners[k]);
        record->indices[k] = first + k;
    }
    record->userData = 0;
    record->mode = 0;
    record->geometry = nullptr;
    *candidate = number;
    query.vertexCount += 3;
    query.triangleCount += 1;
    return true;
}

}

EntityManager::RayQuery::RayQuery(const vec3d& from, const vec3d& to, int32_t layer)
    : origin(from), end(to), minLayer(layer)
{
    const vec3d segment = to - from;
    best = fastSqrt(segment.lengthSq());
    direction = best > 0.0f ? segment / best : vec3d();
}

void EntityManager::RayQuery::addCandidate(float distance, SubEntity& subEntity)
{
    candidates[candidateCount++] = {distance, &subEntity};
    if (candidateCount == maxCandidates)
        resolve();
}

void EntityManager::RayQuery::resolve()
{
    std::sort(candidates, candidates + candidateCount,
              [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
    for (int32_t i = 0; i < candidateCount && candidates[i].distance < best; ++i)
        testSubEntity(*candidates[i].subEntity);
    candidateCount = 0;
}

bool EntityManager::RayQuery::testSubEntity(SubEntity& subEntity)
{
    StoredMesh& mesh = subEntity.mesh();
    matrix3d inverse;
    if (!mesh.tree || !subEntity.world->inverseAffine(inverse))
        return false;
    const TriangleTree::Ray local(inverse.transformPoint(origin), inverse.transformVector(direction));
    const bool clockwise = subEntity.material.cullMode == Shader::cullFront;
    const triangle3dex* nearest = TriangleTree::nearestOnRay(mesh.tree, local, clockwise, best);
    if (!nearest)
        return false;
    end = origin + direction * best;
    hit = &subEntity;
    triangle = nearest;
    hitWorld = *subEntity.world;
    uvs = mesh.uvs.get();
    return true;
}

EntityManager::MeshOctree* EntityManager::MeshOctree::acquire(EntityManager& manager, StoredMesh& mesh)
{
    for (auto* node = manager.meshOctrees.head(); node; node = node->next)
        if (node->item->mesh == &mesh) {
            ++node->item->users;
            return node->item;
        }
    MeshOctree* record = new (std::nothrow) MeshOctree(mesh);
    if (!record)
        return nullptr;
    record->ownerThread = uint32_t(GetCurrentThreadId());
    if (!(record->listNode = manager.meshOctrees.append(record))) {
        delete record;
        return nullptr;
    }
    ++mesh.recordCount;
    return record;
}

void EntityManager::MeshOctree::release(EntityManager& manager, MeshOctree* record)
{
    if (!record || --record->users >= 1)
        return;
    manager.meshOctrees.unlink(record->listNode);
    delete record->root;
    StoredMesh* mesh = record->mesh;
    // The mesh may have gone already with releaseAll: only a listed mesh is
    // touched.
    if (StoredMesh::isListed(mesh) && --mesh->recordCount < 1)
        delete mesh;
    delete record;
}

void EntityManager::MeshOctree::noteContactChange()
{
    if (contactChanges.fetch_add(1, std::memory_order_relaxed) + 1 == 0)
        contactChanges.fetch_add(1, std::memory_order_relaxed);
}

void EntityManager::MeshOctree::place(SubEntity& sub, const CellBox& cells)
{
    // A part moved within the tree changes nothing the skip relies on.
    if (!sub.node)
        noteContactChange();
    Octree::place(root, cells, cellSize, false, &sub, sub.node, sub.nodeEntry, &spares);
}

void EntityManager::MeshOctree::remove(SubEntity& sub)
{
    Octree::remove(root, sub.node, sub.nodeEntry, &spares);
}

OrientedBox EntityManager::MeshOctree::worldBoxOf(const SubEntity& sub)
{
    return sub.localBox.carried(sub.entity->world);
}

void EntityManager::MeshOctree::intersectRay(RayQuery& query) const
{
    const TriangleTree::Ray ray(query.origin, query.direction);
    // The segment's box: most node and entity boxes are told apart by it
    // before the dearer slab test. Later hits only shorten the segment, so
    // the box stays a bound.
    vec3d low = query.origin, high = query.origin;
    MeshGeometry::widen(low, high, query.origin + query.direction * query.best);
    const auto meets = [&](const BoundingBox& box, float& entry) {
        return TriangleTree::overlaps(box, low, high) &&
               TriangleTree::rayMeetsBox(ray, box.minimum, box.maximum, query.best, entry);
    };
    // Visits a node the ray meets: its items, then the children it meets.
    const auto walk = [&](const auto& self, const Octree* node) -> void {
        float entry = 0.0f;
        for (auto* item = node->items.head(); item; item = item->next) {
            SubEntity& sub = *item->item;
            const Entity& entity = *sub.entity;
            if (entity.hidden || sub.layer < query.minLayer || !meets(entity.worldBounds, entry))
                continue;
            float t = 0.0f;
            if (entity.worldBox.intersectRay(query.origin, query.direction, t) != 7 && t >= 0.0f &&
                t < query.best)
                query.addCandidate(t, sub);
        }
        for (const Octree* child : node->children)
            if (child && meets(child->bounds, entry))
                self(self, child);
    };
    float entry = 0.0f;
    if (root && query.best > 0.0f && meets(root->bounds, entry))
        walk(walk, root);
    if (query.candidateCount > 0)
        query.resolve();
}

void EntityManager::MeshOctree::collide(CollisionQuery& query, ContactScratch& scratch) const
{
    const vec3d& low = query.boxMin;
    const vec3d& high = query.boxMax;
    if (!root || !mesh->tree || !TriangleTree::overlaps(root->bounds, low, high))
        return;
    // A record of moving quads' parts only gives nothing: the walk would
    // visit every part near the box to learn that. On the making thread no
    // change can come between the check and the walk.
    if (ownerThread != 0 && ownerThread == uint32_t(GetCurrentThreadId())) {
        const uint32_t now = contactChanges.load(std::memory_order_relaxed);
        if (checkedAt != now) {
            holdsStaticItems = holdsEntityWithoutPhysics(root);
            checkedAt = now;
        }
        if (!holdsStaticItems)
            return;
    }
    BoundingBox queryBox;
    queryBox.minimum = low;
    queryBox.maximum = high;
    // Room for a node's eight children on top of what is held: slots are
    // written through the data pointer without growing in between.
    uint32_t top = 0;
    if (!scratch.nodes.reserve(8))
        return;
    scratch.nodes.data()[top++] = root;
    while (top > 0) {
        const Octree* node = scratch.nodes.data()[--top];
        for (auto* item = node->items.head(); item; item = item->next) {
            const SubEntity& sub = *item->item;
            const Entity& entity = *sub.entity;
            if (entity.hidden || entity.physics || sub.hidden || sub.layer < query.minLayer ||
                !TriangleTree::overlaps(entity.worldBounds, low, high))
                continue;
            matrix3d inverse;
            if (!sub.world->inverseAffine(inverse))
                continue;
            const BoundingBox local = queryBox.carried(inverse);
            const matrix3d& world = *sub.world;
            TriangleTree::forEachLeaf(
                mesh->tree, scratch.leaves,
                [&](const BoundingBox& box) { return TriangleTree::overlaps(box, local.minimum, local.maximum); },
                [&](const MeshTools::BinaryTiangleTree& leaf) {
                    return appendTriangle(query, world, *leaf.triangle);
                });
        }
        if (!scratch.nodes.reserve(top + 8))
            return;
        const Octree** stack = scratch.nodes.data();
        for (const Octree* child : node->children)
            if (child && TriangleTree::overlaps(child->bounds, low, high))
                stack[top++] = child;
    }
}
