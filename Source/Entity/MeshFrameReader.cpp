// Mode 2: the model with a 68-byte header of seventeen i32: identifier,
// version, skin width, skin height, frame size, skin count, vertex count,
// texture-coordinate count, triangle count, command count, frame count and
// six block offsets. The blocks are read back to back whatever the offsets
// say: skin names (64 bytes each), texture coordinates (i16 s, t),
// triangles (three u16 vertex indices, three u16 texture-coordinate
// indices), then the frames of frame-size bytes: scale (3 x f32), translation
// (3 x f32), 16 name bytes, then per vertex u8 x, y, z and a spare byte.
// Every frame is decoded into the same vertices, so the last one's positions,
// normals and box remain: only the last frame needs decoding.
#include "Entity/MeshReaders.h"

#include "Core/ByteReader.h"
#include "Core/FileInterface.h"
#include "Core/Matrix.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t headerSize = 68;
constexpr uint32_t maxSkins = 32;
constexpr uint32_t skinNameSize = 64;
constexpr uint32_t frameVertices = 40; // where a frame's vertex records start
constexpr uint32_t maxTriangles = MeshReaders::maxUnsharedVertices / 3;

}

namespace MeshReaders {

Result readFramedModel(MeshTools& mesh, FileInterface& stream, const matrix3d& transform)
{
    const std::unique_ptr<uint8_t[]> header = readBlock(stream, headerSize);
    if (!header)
        return Result::damaged;
    int32_t field[17];
    std::memcpy(field, header.get(), sizeof(field));
    const int32_t skinWidth = field[2], skinHeight = field[3], frameSize = field[4], skinCount = field[5];
    const int32_t vertexCount = field[6], texCoordCount = field[7], triangleCount = field[8], frameCount = field[10];
    for (int i = 2; i <= 10; ++i)
        if (field[i] < 0)
            return Result::damaged;
    if (uint32_t(skinCount) > maxSkins || uint32_t(triangleCount) > maxTriangles ||
        (triangleCount > 0 && (skinWidth == 0 || skinHeight == 0)))
        return Result::damaged;
    if (frameCount > 0 && uint64_t(frameVertices) + uint64_t(vertexCount) * 4 > uint64_t(frameSize))
        return Result::damaged;

    const std::unique_ptr<uint8_t[]> skins = readBlock(stream, uint64_t(skinCount) * skinNameSize);
    const std::unique_ptr<uint8_t[]> texCoords = skins ? readBlock(stream, uint64_t(texCoordCount) * 4) : nullptr;
    const std::unique_ptr<uint8_t[]> triangles = texCoords ? readBlock(stream, uint64_t(triangleCount) * 12) : nullptr;
    if (!triangles || uint64_t(frameCount) * uint64_t(frameSize) > stream.remaining())
        return Result::damaged;
    // Without frames there are no positions: the mesh stays empty.
    const uint64_t earlierFrames = uint64_t(frameCount - 1) * uint64_t(frameSize);
    if (frameCount == 0 || earlierFrames > uint64_t(INT32_MAX))
        return Result::damaged;
    stream.seek(int32_t(earlierFrames), 1);
    const std::unique_ptr<uint8_t[]> frame = readBlock(stream, uint32_t(frameSize));
    std::unique_ptr<Corner[]> corners = newArray<Corner>(uint64_t(triangleCount) * 3);
    if (!frame || !corners)
        return Result::damaged;

    const vec3d scale = vec3At(frame.get()), translation = vec3At(frame.get() + 12);
    for (int32_t t = 0; t < triangleCount; ++t) {
        const uint8_t* record = triangles.get() + size_t(t) * 12;
        for (int c = 0; c < 3; ++c) {
            const uint32_t vertex = ByteReader::le16(record + 2 * c), texCoord = ByteReader::le16(record + 6 + 2 * c);
            if (vertex >= uint32_t(vertexCount) || texCoord >= uint32_t(texCoordCount))
                return Result::damaged;
            const uint8_t* xyz = frame.get() + frameVertices + size_t(vertex) * 4;
            const vec3d p(xyz[0] * scale.x + translation.x, xyz[1] * scale.y + translation.y,
                          xyz[2] * scale.z + translation.z);
            const uint8_t* st = texCoords.get() + size_t(texCoord) * 4;
            corners[3 * t + c] = {transform.transformPoint(vec3d(p.x, p.z, p.y)),
                                  vec2d(float(int16_t(ByteReader::le16(st))) / float(skinWidth),
                                        float(int16_t(ByteReader::le16(st + 2))) / float(skinHeight))};
        }
    }
    const uint32_t cornerCount = uint32_t(triangleCount) * 3;
    if (!writeUnsharedTriangles(mesh, corners.get(), cornerCount))
        return Result::damaged;
    mesh.setBounds(cornerBox(corners.get(), cornerCount));
    return Result::done;
}

}
