// Mode 4: the engine's own mesh record. An optional marker byte 10, then
// u32 stored vertex format, the 11-float box, u32 index count, u32 vertex
// count, the u16 indices and the vertex records; bone data follows only
// after a marker. A vertex record holds only the components that both the
// stored format and the mesh's own format have, in this order: position
// (3 x f32), normal (3 x f32), colour (u32), uv (2 x f32); so the same
// stored format makes records of 0 to 36 bytes, by the mesh that reads them.
// The bone data is the skeleton with its animations (BoneAnim).
#include "Entity/MeshReaders.h"

#include "Entity/BoneAnim.h"

#include "Core/FileInterface.h"
#include "Core/Math.h"
#include "Core/Matrix.h"

#include <cmath>
#include <cstring>

namespace {

constexpr uint8_t marker = 10;
constexpr uint32_t maxVertices = 65535;

// The box carried through the transform: the stored centre as a point, the
// half extents (stored maximum - centre) over the absolute unit rows scaled
// by their lengths; radius and squared radius 1.
BoundingBox transformBox(const BoundingBox& stored, const matrix3d& transform)
{
    BoundingBox box;
    box.center = transform.transformPoint(stored.center);
    const vec3d extent = stored.maximum - stored.center;
    vec3d half;
    for (int i = 0; i < 3; ++i) {
        const vec3d row = transform.row(i);
        const float length = fastSqrt(row.lengthSq());
        if (length == 0.0f)
            continue;
        for (int j = 0; j < 3; ++j)
            half[j] += extent[i] * length * std::fabs(row[j] / length);
    }
    box.minimum = box.center - half;
    box.maximum = box.center + half;
    box.radius = box.radiusSq = 1.0f;
    return box;
}

// The 3 x 3 part of transform with each row at unit length (fast square
// root; a zero row stays zero): normals turn without being scaled.
matrix3d normalTransform(const matrix3d& transform)
{
    matrix3d m = matrix3d::identity();
    for (int i = 0; i < 3; ++i) {
        const vec3d row = transform.row(i);
        const float length = fastSqrt(row.lengthSq());
        for (int j = 0; j < 3; ++j)
            m.at(i, j) = length == 0.0f ? 0.0f : row[j] / length;
    }
    return m;
}

}

namespace MeshReaders {

Result readRecord(MeshTools& mesh, FileInterface& stream, const matrix3d& transform)
{
    uint8_t first = 0;
    // Without the marker the record starts at the stream's beginning.
    const bool marked = stream.read(&first, 1) != 1 || first == marker;
    if (!marked)
        stream.seek(0, 0);

    uint32_t storedFormat = 0, indexCount = 0, vertexCount = 0;
    float boxFields[11];
    if (!stream.readValue(storedFormat) || stream.read(boxFields, sizeof(boxFields)) != sizeof(boxFields) ||
        !stream.readValue(indexCount) ||
        !stream.readValue(vertexCount))
        return Result::damaged;
    BoundingBox storedBox;
    std::memcpy(&storedBox, boxFields, sizeof(storedBox));
    const uint32_t format = VertexFormat::shared(storedFormat, mesh.getFvf());
    const uint32_t recordSize = VertexFormat::size(format);
    if (vertexCount > maxVertices ||
        uint64_t(indexCount) * 2 + uint64_t(vertexCount) * recordSize > stream.remaining())
        return Result::damaged;
    const std::unique_ptr<uint8_t[]> indices = readBlock(stream, uint64_t(indexCount) * 2);
    const std::unique_ptr<uint8_t[]> vertices = indices ? readBlock(stream, uint64_t(vertexCount) * recordSize) : nullptr;
    if (!vertices)
        return Result::damaged;
    for (uint32_t i = 0; i < indexCount; ++i) {
        uint16_t index;
        std::memcpy(&index, indices.get() + 2 * size_t(i), 2);
        if (index >= vertexCount)
            return Result::damaged;
    }
    if (vertexCount > 0 && !mesh.getVertexData(int32_t(vertexCount - 1)))
        return Result::damaged;
    uint16_t* target = mesh.reserveIndices(int32_t(indexCount));
    if (indexCount > 0 && (!target || !mesh.getIndex(int32_t(indexCount - 1))))
        return Result::damaged;

    mesh.setBounds(transformBox(storedBox, transform));
    *mesh.getIndexCount() = int32_t(indexCount);
    *mesh.getVertexCount() = int32_t(vertexCount);
    if (indexCount > 0)
        std::memcpy(mesh.getIndices(), indices.get(), size_t(indexCount) * 2);
    const matrix3d turn = normalTransform(transform);
    for (uint32_t i = 0; i < vertexCount; ++i) {
        const uint8_t* record = vertices.get() + size_t(i) * recordSize;
        const VertexComponents& vertex = *mesh.getVertexData(int32_t(i));
        if (VertexFormat::hasPosition(format))
            *vertex.position = transform.transformPoint(vec3At(record));
        if (VertexFormat::hasNormal(format))
            *vertex.normal = turn.transformVector(vec3At(record + VertexFormat::normalOffset(format)));
        if (VertexFormat::hasColour(format))
            std::memcpy(vertex.colour, record + VertexFormat::colourOffset(format), 4);
        if (VertexFormat::hasUv(format))
            std::memcpy(vertex.uv, record + VertexFormat::uvOffset(format), 8);
    }
    // A marker announces a skeleton after the vertices. A damaged skeleton
    // leaves the mesh without bones; the mesh itself stands.
    if (marked)
        if (BoneAnim* skeleton = mesh.getBoneAnim())
            skeleton->read(stream, mesh, transform);
    return Result::done;
}

}
