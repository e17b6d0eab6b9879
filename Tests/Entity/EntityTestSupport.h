#pragma once
// Meshes, placements and scenes of entities for the entity tests.
#include "MeshTestSupport.h"

#include "Entity/Entity.h"
#include "Entity/EntityManager.h"
#include "Entity/MeshOctree.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"

#include "Core/Math.h"

#include <memory>
#include <random>
#include <vector>

namespace EntityTests {

// A mesh of separate triangles (three vertices each) with its bounds.
inline std::unique_ptr<EntityMesh> meshOf(const wchar_t* name, const std::vector<vec3d>& corners)
{
    auto mesh = std::make_unique<EntityMesh>(String(name));
    for (size_t i = 0; i < corners.size(); ++i) {
        VertexComponents& v = *mesh->getVertexData(int32_t(i));
        *v.position = corners[i];
        *v.normal = {0.0f, 1.0f, 0.0f};
        *v.uv = {float(i), 0.5f};
    }
    *mesh->getVertexCount() = int32_t(corners.size());
    for (size_t i = 0; i + 2 < corners.size(); i += 3)
        mesh->addTriangle(uint16_t(i), uint16_t(i + 1), uint16_t(i + 2));
    mesh->calcBounds();
    BoundingBox& box = *mesh->getBounds();
    box.radiusSq = (box.maximum - box.center).lengthSq();
    box.radius = std::sqrt(box.radiusSq);
    return mesh;
}

// count triangles with corners in the cube of half size reach.
inline std::unique_ptr<EntityMesh> randomMesh(const wchar_t* name, int count, std::mt19937& random, float reach = 1.0f)
{
    std::uniform_real_distribution<float> coordinate(-reach, reach);
    std::vector<vec3d> corners(size_t(3 * count));
    for (vec3d& c : corners)
        c = {coordinate(random), coordinate(random), coordinate(random)};
    return meshOf(name, corners);
}

// Rotation about y, then x, a uniform scale and a translation (row vectors).
inline matrix3d placement(float yaw, float pitch, float scale, const vec3d& at)
{
    matrix3d y = matrix3d::identity(), x = matrix3d::identity();
    y.at(0, 0) = std::cos(yaw), y.at(0, 2) = -std::sin(yaw), y.at(2, 0) = std::sin(yaw), y.at(2, 2) = std::cos(yaw);
    x.at(1, 1) = std::cos(pitch), x.at(1, 2) = std::sin(pitch), x.at(2, 1) = -std::sin(pitch),
           x.at(2, 2) = std::cos(pitch);
    matrix3d m = y * x;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m.at(r, c) *= scale;
    m.at(3, 0) = at.x, m.at(3, 1) = at.y, m.at(3, 2) = at.z;
    return m;
}

inline int storedMeshCount()
{
    return EntityManager::StoredMesh::list().count();
}

// Every sub-entity of the manager sits in a node that holds its entity's
// cells, and its node's list names it.
inline void expectPlaced(EntityManager& manager)
{
    for (auto* e = manager.entities.head(); e; e = e->next)
        for (auto* s = e->item->subEntities.head(); s; s = s->next) {
            const EntityManager::SubEntity& sub = *s->item;
            ASSERT_NE(sub.node, nullptr);
            ASSERT_EQ(sub.nodeEntry->item, &sub);
            CellBox child;
            EXPECT_EQ(sub.node->octant(e->item->cells, child), EntityManager::Octree::staysHere);
        }
}

}
