#pragma once
// The octree of the sub-entities of one stored mesh, and the walks the entity
// manager runs over it: drawing what the view holds, casting a ray, and
// gathering the triangles that touch a box for the physics.
//
// A record exists while sub-entities of its mesh exist; the last one to
// leave releases it, and the mesh with it once no record refers to the mesh.
// Sub-entities are placed by their entity's cells, so those of one entity
// share a node. The contact walk runs on the physics thread (under the
// manager's contact pass); everything else on the main thread.

#include "Entity/Entity.h"
#include "Entity/EntityManager.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"

#include "Core/ConvexVolume.h"
#include "Core/DynArray.h"
#include "Core/Math.h"
#include "Core/Matrix.h"
#include "Core/Triangle3dex.h"

#include <cstdint>

struct CollisionQuery;

// A segment cast through the sub-entities: the nearest triangle hit, its
// point (end) and distance (best), the sub-entity, its world matrix and the
// mesh's uv pairs.
struct EntityManager::RayQuery
{
    static constexpr int maxCandidates = 16;

    struct Candidate
    {
        float distance;
        SubEntity* subEntity;
    };

    // The segment from origin to end; one of length 0 meets nothing.
    RayQuery(const vec3d& origin, const vec3d& end, int32_t minLayer);

    // Holds a sub-entity whose box the ray enters at distance; at 16 held
    // they are resolved.
    void addCandidate(float distance, SubEntity& subEntity);
    // Tests the held sub-entities nearest first while they can still be
    // nearer than the best hit, then holds none.
    void resolve();
    // The triangles of one sub-entity (its mesh's tree in its local space;
    // one-sided, clockwise for front-culled materials). A hit nearer than
    // best moves end and best and names the sub-entity.
    bool testSubEntity(SubEntity& subEntity);

    vec3d origin;
    vec3d direction; // unit
    vec3d end;       // the segment's end, then the nearest hit
    float best;      // distance to end
    int32_t minLayer;
    SubEntity* hit = nullptr;
    const triangle3dex* triangle = nullptr; // of the hit, in mesh space
    matrix3d hitWorld = matrix3d::identity();
    const vec2d* uvs = nullptr;
    Candidate candidates[maxCandidates];
    int32_t candidateCount = 0;
};

struct EntityManager::MeshOctree
{
    // The contact walk's stacks, kept by its caller between walks.
    struct ContactScratch
    {
        DynArray<const Octree*> nodes{32};
        DynArray<const MeshTools::BinaryTiangleTree*> leaves{32};
    };

    explicit MeshOctree(StoredMesh& storedMesh) : mesh(&storedMesh) {}

    // The record of mesh with one more user, made when there is none.
    static MeshOctree* acquire(EntityManager& manager, StoredMesh& mesh);
    // One user fewer; the last deletes the record with its tree and, when no
    // other record refers to it, the stored mesh.
    static void release(EntityManager& manager, MeshOctree* record);

    // Places sub (again) by cells; climbs only as far as needed.
    void place(SubEntity& sub, const CellBox& cells);
    // Takes sub out of the tree.
    void remove(SubEntity& sub);

    // Calls draw(sub) for every sub-entity the view volume may show, in tree
    // order: unhidden, of an entity not outside the view and not masked by
    // reflectionPass; sub-entities of entities crossing the view's edge are
    // tested by their own boxes.
    template <class Draw>
    void renderWalk(const ConvexVolume& view, uint32_t reflectionPass, Draw&& draw) const
    {
        renderNode(root, view, reflectionPass, false, draw);
    }

    // Collects the sub-entities whose entity box the query's ray enters
    // before its best distance, then resolves them.
    void intersectRay(RayQuery& query) const;

    // Appends to query, in world space, every triangle whose tree leaf meets
    // query's box, of the sub-entities that take part in contacts: unhidden,
    // of an unhidden entity without physics whose box meets the query box,
    // at or above the query's layer.
    void collide(CollisionQuery& query, ContactScratch& scratch) const;

    // Called when a record may have gained a sub-entity of an entity without
    // a physics record: a sub-entity placed, a physics record made or gone.
    // On the thread that makes records (the main thread, which also runs the
    // contact walk while the physics thread is off) a record found to hold
    // none is skipped by the walk until the next such change.
    static void noteContactChange();

    StoredMesh* mesh;
    int32_t users = 1;
    SCList<MeshOctree>::Node* listNode = nullptr;
    Octree* root = nullptr;
    // Nodes the tree gave up, for the nodes it makes next.
    Octree::Spares spares;

private:
    template <class Draw>
    static void renderNode(const Octree* node, const ConvexVolume& view, uint32_t reflectionPass, bool inside,
                           Draw& draw)
    {
        if (!node)
            return;
        if (!inside) {
            const int32_t where = view.classifyBox(node->bounds);
            if (where == ConvexVolume::outside)
                return;
            inside = where == ConvexVolume::inside;
        }
        for (auto* entry = node->items.head(); entry; entry = entry->next) {
            SubEntity& sub = *entry->item;
            const Entity& entity = *sub.entity;
            if (entity.visibility == ConvexVolume::outside || (entity.reflectionMask & reflectionPass) ||
                entity.hidden || sub.hidden)
                continue;
            if (entity.visibility == ConvexVolume::intersecting &&
                view.classifyOrientedBox(worldBoxOf(sub)) == ConvexVolume::outside)
                continue;
            draw(sub);
        }
        for (const Octree* child : node->children)
            renderNode(child, view, reflectionPass, inside, draw);
    }

    // The sub-entity's local box carried by its entity's world transform.
    static OrientedBox worldBoxOf(const SubEntity& sub);

    // The thread that made the record (0: none, the skip is never used);
    // the change count at which holdsStaticItems was last worked out (0:
    // never), and whether any sub-entity then had an entity without physics.
    uint32_t ownerThread = 0;
    mutable uint32_t checkedAt = 0;
    mutable bool holdsStaticItems = true;
};
