#include "Objects/PackageMesh.h"

#include "Objects/PackageFields.h"
#include "Objects/PackageGeometry.h"

#include "Entity/MeshTools.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/Math.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The leading byte of a mesh body that carries its skeleton after the
// vertices; the rest of the body's head is the stored format, the box and
// the two counts.
constexpr uint8_t bodyMarker = 10;
constexpr uint32_t bodyHeadBytes = 1 + 4 + 44 + 4 + 4;
// More levels than any texture side allows is damage.
constexpr uint32_t maxMipLevels = 16;

String randomName()
{
    String name;
    name.makeRandom(10);
    return name;
}

}

ObjPkgManager::Mesh::Mesh(FileFinder* owner)
    : Base(randomName()), package(owner), backup(*getName() + L"Backup")
{
}

ObjPkgManager::Mesh::~Mesh()
{
    geometries.clearWith([](Geometry* geometry) { delete geometry; });
}

bool ObjPkgManager::Mesh::load(FileInterface& stream)
{
    CRASH_TRACE();
    using namespace PackageFields;
    bool hasKind = false;
    uint32_t kind = 0;
    uint32_t geometryCount = 0;
    const bool complete = readBlock(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1: return hasKind = stream.readValue(kind);
        case 2:
            if (!hasKind)
                return false;
            if (kind == treeKind)
                return readTree(stream);
            return kind != meshKind || readBody(stream);
        case 3: return readText(stream, displayName);
        case 4: return readText(stream, textureName);
        case 5: {
            uint32_t levels = 0;
            if (!stream.readValue(levels))
                return false;
            if (levels <= maxMipLevels)
                textureMipLevels = levels;
            return true;
        }
        case 6: return readVector(stream, position, maxCoordinate);
        case 7: return readVector(stream, rotation, maxAngle);
        case 8: return readFloat(stream, scale, maxFactor);
        case 9: return shader.load(stream);
        case 10: return stream.readValue(geometryCount) && fits(stream, geometryCount, sizeof(uint32_t));
        case 11: return readGeometries(stream, geometryCount);
        case 12: {
            String name = *getName();
            if (!readText(stream, name))
                return false;
            *getName() = name;
            *backup.getName() = name + L"Backup";
            return true;
        }
        default: return true; // later tags carry no field
        }
    });
    loadTexture();
    updatePlacement();
    return complete;
}

bool ObjPkgManager::Mesh::readBody(FileInterface& stream)
{
    // Only a marked body tells where it ends: without the marker the mesh
    // tools read the record from the start of the stream.
    uint8_t head[bodyHeadBytes];
    if (stream.read(head, bodyHeadBytes) != bodyHeadBytes || head[0] != bodyMarker)
        return false;
    uint32_t indexCount = 0, vertexCount = 0;
    std::memcpy(&indexCount, head + bodyHeadBytes - 8, 4);
    std::memcpy(&vertexCount, head + bodyHeadBytes - 4, 4);
    stream.seek(-int32_t(bodyHeadBytes), 1);
    MeshTools::processMode(*this, &stream, matrix3d::identity(), 4);
    // A damaged body leaves the counts at 0, and the stream somewhere inside it.
    if (uint32_t(*getIndexCount()) != indexCount || uint32_t(*getVertexCount()) != vertexCount)
        return false;
    MeshTools::buildTriangleTree(*this);
    const BoundingBox& bounds = *getBounds();
    placeLocalBoxOn(bounds);
    copyTo(backup);
    return true;
}

void ObjPkgManager::Mesh::placeLocalBoxOn(const BoundingBox& bounds)
{
    localBox.center = bounds.center;
    localBox.radius = bounds.radius;
    localBox.radiusSq = bounds.radiusSq;
    localBox.axes[0] = {1.0f, 0.0f, 0.0f};
    localBox.axes[1] = {0.0f, 1.0f, 0.0f};
    localBox.axes[2] = {0.0f, 0.0f, 1.0f};
    localBox.halfExtents = bounds.maximum - bounds.center;
}

bool ObjPkgManager::Mesh::readTree(FileInterface& stream)
{
    tree = std::make_unique<Tree>();
    tree->generate(stream);
    const BoundingBox bounds = tree->getBounds();
    placeLocalBoxOn(bounds);
    return true;
}

bool ObjPkgManager::Mesh::readGeometries(FileInterface& stream, uint32_t count)
{
    // Every geometry block holds at least its closing tag.
    if (!PackageFields::fits(stream, count, sizeof(uint32_t)))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        // One that cannot be kept is left out, its block passed over.
        std::unique_ptr<Geometry> made(new (std::nothrow) Geometry(nullptr, this));
        Geometry skipped(nullptr, this);
        Geometry& geometry = made && (made->listNode = geometries.append(made.get())) ? *made.release() : skipped;
        geometry.active = i == 0;
        if (!geometry.load(stream))
            return false;
    }
    return true;
}

void ObjPkgManager::Mesh::loadTexture()
{
    if (!package || textureName.length() == 0)
        return;
    FileArray* file = package->findFile(textureName);
    if (!file)
        return;
    constexpr uint32_t fromFile = 0xFFFFFFFFu;
    Texture::loadFromMemory(*file, nullptr, *getTexture(), textureName, fromFile, fromFile, textureMipLevels, 0,
                            D3DPOOL_MANAGED, fromFile);
}

void ObjPkgManager::Mesh::updatePlacement()
{
    world = matrix3d::fromAngles(rotation);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            world.at(r, c) *= scale;
    world.setRow(3, position);
    worldBox.center = world.transformPoint(localBox.center);
    worldBox.radius = localBox.radius;
    worldBox.radiusSq = localBox.radiusSq;
    for (int i = 0; i < 3; ++i) {
        worldBox.axes[i] = MeshGeometry::unit(world.transformVector(localBox.axes[i]));
        worldBox.halfExtents[i] = localBox.halfExtents[i] * fastSqrt(world.row(i).lengthSq());
    }
    for (auto* node = geometries.head(); node; node = node->next)
        node->item->update(worldBox);
}

void ObjPkgManager::Mesh::attachGeometries(EntityManager::CollisionBody& body,
                                           EntityManager::CollisionBody::Geometry::Interface* second)
{
    if (!collisionEnabled)
        return;
    for (auto* node = geometries.head(); node; node = node->next)
        node->item->attachTo(body, worldBox, second);
}

void ObjPkgManager::Mesh::forgetBody(const EntityManager::CollisionBody& body)
{
    for (auto* record = body.geometries.head(); record; record = record->next)
        for (auto* node = geometries.head(); node; node = node->next) {
            Geometry& geometry = *node->item;
            if (record->item->first != &geometry)
                continue;
            record->item->first = nullptr;
            record->item->second = nullptr;
            if (geometry.bodyGeometry == record->item)
                geometry.bodyGeometry = nullptr;
        }
}

BoundingBox ObjPkgManager::Mesh::emptyBounds()
{
    BoundingBox box;
    box.minimum = {FLT_MAX, FLT_MAX, FLT_MAX};
    box.maximum = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    return box;
}

void ObjPkgManager::Mesh::extendBounds(BoundingBox& box) const
{
    const vec3d centre = world.transformPoint(localBox.center);
    vec3d extent;
    for (int i = 0; i < 3; ++i) {
        const vec3d axis = world.transformVector(localBox.axes[i]);
        for (int j = 0; j < 3; ++j)
            extent[j] += std::fabs(axis[j]) * localBox.halfExtents[i];
    }
    MeshGeometry::widen(box.minimum, box.maximum, centre - extent);
    MeshGeometry::widen(box.minimum, box.maximum, centre + extent);
    box.center = (box.minimum + box.maximum) * 0.5f;
}

ObjPkgManager::Geometry* ObjPkgManager::Mesh::findActiveGeometry() const
{
    for (auto* node = geometries.head(); node; node = node->next)
        if (node->item->active)
            return node->item;
    return nullptr;
}

void ObjPkgManager::Mesh::copyTo(Base& target)
{
    target.clear();
    const int32_t vertexCount = countedVertices();
    if (vertexCount > 0 && !target.getVertexData(vertexCount - 1))
        return;
    for (int32_t i = 0; i < vertexCount; ++i) {
        const VertexComponents& from = *getVertexData(i);
        const VertexComponents& to = *target.getVertexData(i);
        *to.position = *from.position;
        *to.normal = *from.normal;
        *to.uv = *from.uv;
    }
    *target.getVertexCount() = vertexCount;
    target.appendIndices(getIndices(), countedIndices(), 0, false);
    target.setTexture(*getTexture());
}
