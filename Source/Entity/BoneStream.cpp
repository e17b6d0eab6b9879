// The stored skeleton (little-endian): u8 root count (0 ends the record);
// with roots, the first root's position (3 x f32) and each root's bone
// record in list order. A bone record: u8 child count, u16 vertex count,
// angles (3 x f32, degrees), length (f32), lower and upper angle limits
// (3 x f32 each), the vertex entries (4 bytes each), then the children's
// records.
#include "Entity/Bone.h"

#include "Core/FileInterface.h"

#include <new>

namespace {

bool readVec(FileInterface& stream, vec3d& v)
{
    return stream.readValue(v.x) && stream.readValue(v.y) && stream.readValue(v.z);
}

bool writeVec(FileInterface& stream, const vec3d& v)
{
    return stream.writeValue(v.x) && stream.writeValue(v.y) && stream.writeValue(v.z);
}

}

bool Bone::read(FileInterface& stream, int32_t depth, int32_t* budget)
{
    if (depth > maxDepth)
        return false;
    uint8_t childCount = 0;
    uint16_t storedVertices = 0;
    if (!stream.readValue(childCount) || !stream.readValue(storedVertices) || !readVec(stream, angles) ||
        !stream.readValue(length) || !readVec(stream, rotationMin) || !readVec(stream, rotationMax))
        return false;
    const uint32_t vertexBytes = uint32_t(storedVertices) * sizeof(Vertex);
    if (vertexBytes > stream.remaining() || !vertices.resize(storedVertices))
        return false;
    if (storedVertices > 0 && stream.read(vertices.data(), vertexBytes) != vertexBytes)
        return false;
    vertexCount = storedVertices;

    for (uint32_t c = 0; c < childCount; ++c) {
        if (--*budget < 0)
            return false;
        Bone* child = new (std::nothrow) Bone(tip(), this, 1.0f);
        if (!child)
            return false;
        if (!children.append(child)) {
            delete child;
            return false;
        }
        // The angles just read take effect, and the new child sits at the tip.
        updateGeometry();
        if (!child->read(stream, depth + 1, budget))
            return false;
    }
    // A singular placement keeps the identity: the bone's vertices are then
    // moved by its placement alone.
    inverseAffine(bindMatrix);
    return true;
}

bool Bone::write(FileInterface& stream)
{
    const int32_t stored = vertexCount < vertices.count() ? vertexCount : vertices.count();
    if (children.count() > 255 || stored > 65535 || stored < 0)
        return false;
    if (!stream.writeValue(uint8_t(children.count())) || !stream.writeValue(uint16_t(stored)) ||
        !writeVec(stream, angles) || !stream.writeValue(length) || !writeVec(stream, rotationMin) ||
        !writeVec(stream, rotationMax))
        return false;
    const uint32_t vertexBytes = uint32_t(stored) * sizeof(Vertex);
    if (stored > 0 && stream.write(vertices.data(), vertexBytes) != vertexBytes)
        return false;
    for (auto* node = children.head(); node; node = node->next)
        if (!node->item->write(stream))
            return false;
    return true;
}

bool Bone::Root::read(FileInterface& stream, const matrix3d& transform)
{
    clear();
    uint8_t rootCount = 0;
    if (!stream.readValue(rootCount))
        return false;
    if (rootCount == 0)
        return true;
    vec3d position;
    if (!readVec(stream, position))
        return false;
    position = transform.transformPoint(position);
    int32_t budget = Bone::maxBones;
    for (uint32_t r = 0; r < rootCount; ++r) {
        Bone* bone = --budget < 0 ? nullptr : new (std::nothrow) Bone(position, nullptr, 1.0f);
        if (bone && !bones.append(bone)) {
            delete bone;
            bone = nullptr;
        }
        if (!bone || !bone->read(stream, 1, &budget)) {
            clear();
            return false;
        }
        bone->updateGeometry();
    }
    return true;
}

bool Bone::Root::write(FileInterface& stream)
{
    if (bones.count() > 255 || !stream.writeValue(uint8_t(bones.count())))
        return false;
    if (!hasBones())
        return true;
    if (!writeVec(stream, bones.head()->item->position()))
        return false;
    for (auto* node = bones.head(); node; node = node->next)
        if (!node->item->write(stream))
            return false;
    return true;
}
