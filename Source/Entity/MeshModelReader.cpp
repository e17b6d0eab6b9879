// Mode 1: the model with an 84-byte header. Layout (little-endian):
//   0 3 bytes tag (not examined), 3 version character "3", "4" or "5",
//   8 scale x, y, z, 20 offset x, y, z (f32), 48 texture count, 52 texture
//   width, 56 texture height, 60 vertex count, 64 triangle count, 68 frame
//   count (one frame is read whatever it says), 72 texture-coordinate count.
// Then, in version 5 only, per texture u32 type, width, height (which replace
// the header's) and, for types 2 and 10, width x height R5G6B5 pixels; the
// texture coordinates (i16 s, t); the triangles (i16 vertex indices, then
// i16 texture-coordinate indices); the first frame: u32 kind, 8 bytes (kind
// 0) or 16, 16 more, then per vertex u8 x, y, z and a spare byte (kind 0) or
// u16 x, y, z and two spare bytes.
#include "Entity/MeshReaders.h"

#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/ByteReader.h"
#include "Core/FileInterface.h"
#include "Core/Matrix.h"

#include <TextureRecord.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t headerSize = 84;
constexpr uint32_t maxTriangles = MeshReaders::maxUnsharedVertices / 3;

// Sides that get a full mipmap chain.
bool isChainSide(uint32_t side)
{
    return side >= 64 && side <= 4096 && (side & (side - 1)) == 0;
}

// R5G6B5 to A1R5G5B5: red and the upper five bits of green move down one
// bit, blue stays, the alpha bit is set.
uint16_t toA1R5G5B5(uint16_t pixel)
{
    return uint16_t(0x8000u | ((pixel >> 1) & 0x7FE0u) | (pixel & 0x1Fu));
}

// An embedded image as a managed A1R5G5B5 texture, each side capped at the
// device's largest side while that limit is in force. Leaves ref alone when
// the texture cannot be made (no device): the geometry still loads.
void makeTexture(TextureRef& ref, const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t type)
{
    const bool chain = type == 10 || (isChainSide(width) && isChainSide(height));
    const D3D::Device& device = gDirectGraphics.record;
    const uint32_t cappedWidth = device.limitTextureSize ? std::min(width, device.maxTextureSize) : width;
    const uint32_t cappedHeight = device.limitTextureSize ? std::min(height, device.maxTextureSize) : height;
    TextureRef made;
    if (!Texture::create(made, String(), cappedWidth, cappedHeight, chain ? 0 : 1, 0, D3DFMT_A1R5G5B5,
                         D3DPOOL_MANAGED))
        return;
    {
        TextureDevice::LevelLock level(made.texture()->texture, 0);
        if (!level.ok())
            return;
        const float stepX = float(width) / float(cappedWidth), stepY = float(height) / float(cappedHeight);
        for (uint32_t y = 0; y < cappedHeight; ++y) {
            const uint32_t row = std::min(uint32_t(float(y) * stepY), height - 1);
            uint8_t* texel = level.row(y);
            for (uint32_t x = 0; x < cappedWidth; ++x, texel += 2) {
                const uint32_t column = std::min(uint32_t(float(x) * stepX), width - 1);
                const uint16_t value = toA1R5G5B5(ByteReader::le16(pixels + 2 * (size_t(row) * width + column)));
                std::memcpy(texel, &value, 2);
            }
        }
    }
    if (chain)
        Texture::generateMipLevels(made);
    ref = std::move(made);
}

int16_t i16At(const uint8_t* p)
{
    return int16_t(ByteReader::le16(p));
}

}

namespace MeshReaders {

Result readModel(MeshTools& mesh, FileInterface& stream, const matrix3d& transform)
{
    const std::unique_ptr<uint8_t[]> header = readBlock(stream, headerSize);
    if (!header)
        return Result::damaged;
    const uint8_t* h = header.get();
    const uint8_t version = h[3];
    if (version != '3' && version != '4' && version != '5')
        return Result::untouched;
    const vec3d scale = vec3At(h + 8), offset = vec3At(h + 20);
    const uint32_t textureCount = ByteReader::le32(h + 48);
    uint32_t width = ByteReader::le32(h + 52), height = ByteReader::le32(h + 56);
    const uint32_t vertexCount = ByteReader::le32(h + 60);
    const uint32_t triangleCount = ByteReader::le32(h + 64);
    const uint32_t texCoordCount = ByteReader::le32(h + 72);

    TextureRef texture; // the last one made; the mesh gets it once the model is whole
    if (version == '5') {
        if (uint64_t(textureCount) * 12 > stream.remaining())
            return Result::damaged;
        for (uint32_t t = 0; t < textureCount; ++t) {
            const std::unique_ptr<uint8_t[]> description = readBlock(stream, 12);
            if (!description)
                return Result::damaged;
            const uint32_t type = ByteReader::le32(description.get());
            width = ByteReader::le32(description.get() + 4);
            height = ByteReader::le32(description.get() + 8);
            if (type != 2 && type != 10)
                continue;
            if (width < 2 || height < 2)
                return Result::damaged;
            const std::unique_ptr<uint8_t[]> pixels = readBlock(stream, uint64_t(width) * height * 2);
            if (!pixels)
                return Result::damaged;
            makeTexture(texture, pixels.get(), width, height, type);
        }
    }
    if (triangleCount > maxTriangles || (triangleCount > 0 && (width == 0 || height == 0)))
        return Result::damaged;
    const std::unique_ptr<uint8_t[]> texCoords = readBlock(stream, uint64_t(texCoordCount) * 4);
    const std::unique_ptr<uint8_t[]> triangles = texCoords ? readBlock(stream, uint64_t(triangleCount) * 12) : nullptr;
    uint32_t frameKind = 0;
    if (!triangles || !stream.readValue(frameKind))
        return Result::damaged;
    const uint32_t recordSize = frameKind == 0 ? 4 : 8;
    const std::unique_ptr<uint8_t[]> skipped = readBlock(stream, (frameKind == 0 ? 8 : 16) + 16);
    const std::unique_ptr<uint8_t[]> frame = skipped ? readBlock(stream, uint64_t(vertexCount) * recordSize) : nullptr;
    std::unique_ptr<vec3d[]> positions = newArray<vec3d>(vertexCount);
    std::unique_ptr<Corner[]> corners = newArray<Corner>(uint64_t(triangleCount) * 3);
    if (!frame || !positions || !corners)
        return Result::damaged;

    for (uint32_t v = 0; v < vertexCount; ++v) {
        const uint8_t* record = frame.get() + size_t(v) * recordSize;
        vec3d stored;
        for (int axis = 0; axis < 3; ++axis)
            stored[axis] = frameKind == 0 ? float(record[axis]) : float(ByteReader::le16(record + 2 * axis));
        const vec3d p(stored.x * scale.x + offset.x, stored.y * scale.y + offset.y, stored.z * scale.z + offset.z);
        positions[v] = transform.transformPoint(vec3d(p.x, p.z, p.y));
    }
    for (uint32_t t = 0; t < triangleCount; ++t) {
        const uint8_t* record = triangles.get() + size_t(t) * 12;
        for (int c = 0; c < 3; ++c) {
            const int32_t vertex = i16At(record + 2 * c), texCoord = i16At(record + 6 + 2 * c);
            if (vertex < 0 || uint32_t(vertex) >= vertexCount || texCoord < 0 || uint32_t(texCoord) >= texCoordCount)
                return Result::damaged;
            const uint8_t* st = texCoords.get() + size_t(texCoord) * 4;
            corners[3 * t + c] = {positions[vertex], vec2d(float(i16At(st)) / float(width), float(i16At(st + 2)) / float(height))};
        }
    }
    if (!writeUnsharedTriangles(mesh, corners.get(), triangleCount * 3))
        return Result::damaged;
    mesh.setBounds(cornerBox(corners.get(), triangleCount * 3));
    if (texture.isBound())
        mesh.setTexture(texture);
    return Result::done;
}

}
