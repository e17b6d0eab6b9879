#pragma once
// Meshes, model bytes and random geometry for the mesh tests.
#include "Entity/Bone.h"
#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"

#include "MeshWriter.h"

#include "Core/FileArray.h"
#include "Core/Matrix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using EntityMesh = Mesh<EntityManager::MeshVertex, 274>;
using PointMesh = Mesh<vec3d, 2>;
using JointMesh = Mesh<Joint::Vertex, 18>;

template <class Write, class Description>
std::vector<uint8_t> bytesOf(Write write, const Description& description)
{
    FileArray stream(4096);
    EXPECT_TRUE(write(stream, description));
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

// Decodes bytes in mode; returns where the decoder left the stream.
inline uint32_t decode(MeshTools& mesh, const std::vector<uint8_t>& bytes, int mode,
                       const matrix3d& transform = matrix3d::identity())
{
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    MeshTools::processMode(mesh, &stream, transform, mode);
    return stream.tell();
}

inline std::vector<uint8_t> textBytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

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
