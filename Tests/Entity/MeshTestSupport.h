#pragma once
// Meshes, model bytes and random geometry for the mesh tests.
#include "Entity/Bone.h"
#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"

#include "Core/FileArray.h"
#include "Core/Matrix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using EntityMesh = Mesh<EntityManager::MeshVertex, 274>;
using PointMesh = Mesh<vec3d, 2>;
using JointMesh = Mesh<Joint::Vertex, 18>;

inline vec3d& position(MeshTools& mesh, int i) { return *mesh.getVertexData(i)->position; }
inline vec3d& normal(MeshTools& mesh, int i) { return *mesh.getVertexData(i)->normal; }
inline vec2d& uv(MeshTools& mesh, int i) { return *mesh.getVertexData(i)->uv; }

inline std::vector<uint16_t> indicesOf(MeshTools& mesh)
{
    const uint16_t* data = mesh.getIndices();
    return std::vector<uint16_t>(data, data + *mesh.getIndexCount());
}

// Every index names a counted vertex, and the counts fit 16-bit indices.
inline void expectConsistent(MeshTools& mesh)
{
    const int32_t vertices = *mesh.getVertexCount(), indices = *mesh.getIndexCount();
    ASSERT_GE(vertices, 0);
    ASSERT_LE(vertices, 65535);
    ASSERT_GE(indices, 0);
    for (int32_t i = 0; i < indices; ++i)
        ASSERT_LT(*mesh.getIndex(i), vertices) << "index " << i;
}

// A mesh of triangle vertices drawn from a small grid, so that positions,
// normals and uvs repeat: what welding must merge.
inline void fillRandomMesh(EntityMesh& mesh, std::mt19937& random, int triangles, int gridSteps = 4)
{
    const auto coordinate = [&] { return float(int(random() % gridSteps)) * 0.5f; };
    int32_t v = 0;
    for (int t = 0; t < triangles; ++t)
        for (int c = 0; c < 3; ++c, ++v) {
            VertexComponents& vertex = *mesh.getVertexData(v);
            *vertex.position = vec3d(coordinate(), coordinate(), coordinate());
            *vertex.normal = vec3d(0.0f, random() % 2 ? 1.0f : -1.0f, 0.0f);
            *vertex.uv = vec2d(float(random() % 2), 0.0f);
            mesh.addIndex(uint16_t(v));
        }
    *mesh.getVertexCount() = v;
}
