#pragma once
// One drawable part of an entity: a stored mesh with its own material and
// state blocks, placed in its mesh's octree by the entity's cells.
//
// A sub-entity uses the entity's world transform, or a matrix of its own
// (ownMatrix) that follows the entity (local x entity world) unless
// followsEntity is cleared. Its owner supplies two material callbacks: one
// sets every state of the material while the state blocks are recorded, the
// other (optional) runs before each plain draw. Sub-entities are made by
// Entity::addSubEntity and deleted by their entity. Main thread only.

#include "Entity/EntityManager.h"

#include "Render/Shader.h"

#include "Core/Matrix.h"
#include "Core/OrientedBox.h"

#include <cstdint>
#include <functional>

struct BoundingBox;
class TextureProj;

class EntityManager::SubEntity
{
public:
    using StateCallback = std::function<void(Shader&)>;

    // Takes the mesh's octree record, joins the entity's list, copies the
    // mesh's box and places itself by the entity's cells (by the cells of its
    // own box while the entity has none).
    SubEntity(Entity& owner, StoredMesh& mesh, bool ownMatrix, StateCallback recordStates, StateCallback beforeDraw);
    // Leaves the octree (the record goes with its last user), the entity's
    // list and releases the state blocks.
    ~SubEntity();
    SubEntity(const SubEntity&) = delete;
    SubEntity& operator=(const SubEntity&) = delete;

    StoredMesh& mesh() const;

    // Sets the local box from a box record: its centre, identity axes, half
    // extents from the centre to its maximum.
    void setLocalBox(const BoundingBox& box);

    // Draws the stored mesh (its buffers bound by the caller) with the
    // material's state blocks, the before-draw callback, the material's cull
    // mode, the world matrix and, with clipPlaneEnabled, one more user clip
    // plane than the device has in force.
    void render();
    // Draws the mesh as a caster, black in the texture factor; alpha-tested
    // materials cut their texture's holes out of the shadow.
    void renderShadow();
    // Draws the mesh (bound by the caller) once more under projection, which
    // the projection pass has put in force: a projected light adds its
    // light, a shadow projection darkens where its map holds a caster (only
    // near the camera), a projected texture lays itself over the material.
    void renderProjected(TextureProj& projection, bool nearby);
    // The indexed draw of the mesh with the world matrix and cull mode in
    // force, inside one more user clip plane when clipPlaneEnabled is set.
    void drawClipped();
    // Records the apply and save blocks through the record callback; after
    // construction, a material change and every device reset.
    void recordStateBlocks();
    void releaseStateBlocks() { material.releaseStateBlocks(); }

    // The fields the placement and the walks read come first, so that a
    // pass over many sub-entities touches few cache lines of each; the
    // material, read only where a part is drawn, comes last.
    Entity* entity;
    // The entity's world transform or own.
    const matrix3d* world;
    MeshOctree* octree;
    Octree* node = nullptr;
    Octree::ItemNode* nodeEntry = nullptr;
    const bool hasOwnMatrix;
    uint32_t followsEntity = 1;
    // Set by the placement when the own matrix changed, or by
    // Entity::markSubEntitiesMoved.
    uint32_t moved = 0;
    uint32_t hidden = 0;
    // 0: left out of the shadow casters.
    uint32_t castsShadow = 1;
    uint32_t noProjection = 0;
    // Ray and contact queries ignore sub-entities below their minimum layer.
    int32_t layer = 0;
    uint32_t clipPlaneEnabled = 0;
    OrientedBox localBox;
    matrix3d local = matrix3d::identity();
    matrix3d own = matrix3d::identity();
    // The own matrix's column sums at the last placement.
    vec3d columnSums;
    SCList<SubEntity>::Node* entityEntry = nullptr;
    float clipPlane[4] = {0.0f, 1.0f, 0.0f, 0.0f};
    StateCallback recordStates;
    StateCallback beforeDraw;
    Shader material;

private:
    void draw();
};
