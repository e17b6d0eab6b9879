#include "Entity/MeshReaders.h"

#include "Core/FileInterface.h"
#include "Core/Math.h"

#include <new>

namespace MeshReaders {

bool writeUnsharedTriangles(MeshTools& mesh, const Corner* corners, uint32_t count, const vec3d* normals)
{
    count -= count % 3;
    // Growing to the last vertex and index first: afterwards no accessor fails.
    if (count > 0 && (!mesh.getVertexData(int32_t(count - 1)) || !mesh.getIndex(int32_t(count - 1))))
        return false;
    vec3d normal;
    for (uint32_t v = 0; v < count; ++v) {
        if (v % 3 == 0)
            normal = normals ? normals[v / 3]
                             : MeshGeometry::faceNormal(corners[v].position, corners[v + 1].position,
                                                        corners[v + 2].position);
        const VertexComponents& vertex = *mesh.getVertexData(int32_t(v));
        *vertex.position = corners[v].position;
        *vertex.normal = normal;
        *vertex.uv = corners[v].uv;
        *mesh.getIndex(int32_t(v)) = uint16_t(v);
    }
    *mesh.getVertexCount() = int32_t(count);
    *mesh.getIndexCount() = int32_t(count);
    return true;
}

BoundingBox cornerBox(const Corner* corners, uint32_t count)
{
    BoundingBox box;
    if (count == 0)
        return box;
    vec3d minimum = corners[0].position, maximum = minimum;
    for (uint32_t i = 1; i < count; ++i)
        MeshGeometry::widen(minimum, maximum, corners[i].position);
    MeshGeometry::setCorners(box, minimum, maximum);
    box.radiusSq = (maximum - box.center).lengthSq();
    box.radius = fastSqrt(box.radiusSq);
    return box;
}

std::unique_ptr<uint8_t[]> readBlock(FileInterface& stream, uint64_t n)
{
    if (n > stream.remaining())
        return nullptr;
    std::unique_ptr<uint8_t[]> block = newArray<uint8_t>(n);
    if (!block || (n > 0 && stream.read(block.get(), uint32_t(n)) != n))
        return nullptr;
    return block;
}

}
