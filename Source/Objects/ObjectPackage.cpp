#include "Objects/ObjectPackage.h"

#include "Objects/DynObject.h"
#include "Objects/PackageFields.h"
#include "Objects/PackageLight.h"
#include "Objects/PackageMesh.h"

#include "Entity/StaticEntity.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"
#include "Landscape/HLod.h"
#include "Landscape/Scene.h"
#include "Physics/EntityPhysics.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

enum Kind : uint32_t {
    endKind = 0,
    memoryKind = 1,
    filesKind = 2,
    meshCountKind = 3,
    meshesKind = 4,
    physicsKind = 5,
    lightCountKind = 6,
    lightsKind = 7,
    functionsKind = 8,
};

// The smallest block a mesh or a light can have: its end tag.
constexpr uint32_t minPartBytes = 4;
// An embedded file: its name's count and its size.
constexpr uint32_t minFileBytes = 8;
// Without a camera to measure from, objects come alive within this range.
constexpr float defaultCameraRange = 1800.0f;
// The far field's reach when the swap chain has no far field.
constexpr float defaultFarFieldDistance = 1000.0f;

}

ObjPkgManager::Package::Package(ObjPkgManager* manager, const String& file) : owner(manager), path(file)
{
    // The file name after the last separator of either kind: a folder given
    // with slashes and joined with a backslash still names the file alone.
    name = path.getFileName();
    if (const wchar_t* separator = std::wcsrchr(name.text(), L'\\'))
        name = String(separator + 1);
    name.removeExtension();
    lowerName = name;
    lowerName.toLower();
    rangeSq = visibilityDistance;
}

ObjPkgManager::Package::~Package()
{
    unbuild();
}

uint32_t ObjPkgManager::Package::parseVersion(const uint8_t tag[4])
{
    if (tag[0] != 'v' || tag[2] != '.' || tag[1] != '1')
        return 0;
    switch (tag[3]) {
    case '0': return 10;
    case '1': return 11;
    case '2': return 12;
    default: return 0;
    }
}

ObjPkgManager::Package* ObjPkgManager::Package::build(const TextureRef* sceneContext, const String& file)
{
    CRASH_TRACE();
    if (built)
        return this;
    if (file.length() > 0)
        path = file;
    if (path.length() == 0)
        return this;
    FileInterface* opened = openFile(path, 0, 1, 1);
    if (!opened)
        return this;
    FileArray stream(4096);
    const bool read = opened->isOpen && opened->size() <= maxFileSize && stream.loadFrom(*opened);
    opened->close();
    if (read)
        buildFrom(stream, sceneContext);
    return this;
}

bool ObjPkgManager::Package::buildFrom(FileArray& stream, const TextureRef* sceneContext)
{
    CRASH_TRACE();
    if (built)
        return true;
    stream.seek(0, 0);
    uint8_t tag[4] = {'v', '1', '.', '0'};
    stream.read(tag, 4);
    version = parseVersion(tag);

    // An unbuilt package holds no parts: unbuild empties them, and a walk
    // that fails does so before any part is read.
    if (!readRecords(stream, sceneContext))
        return false;
    built = 1;
    finishBuild();
    return true;
}

bool ObjPkgManager::Package::readRecords(FileArray& stream, const TextureRef* sceneContext)
{
    // A kind-3 (kind-6) count holds for every later kind-4 (kind-7) record.
    int32_t meshCount = 0;
    int32_t lightCount = 0;
    static constexpr uint32_t firstKinds[3] = {memoryKind, filesKind, meshCountKind};
    for (uint32_t counter = 0;; ++counter) {
        uint32_t kind = endKind;
        // A kind cut by the end of the data ends the walk like the end itself.
        if (!stream.readValue(kind) || kind == endKind)
            return true;
        if (counter < 3 && kind != firstKinds[counter])
            return false;
        if (!readRecord(kind, stream, sceneContext, meshCount, lightCount))
            return true;
    }
}

bool ObjPkgManager::Package::readCount(FileArray& stream, int32_t& count)
{
    return stream.readValue(count);
}

bool ObjPkgManager::Package::readRecord(uint32_t kind, FileArray& stream, const TextureRef* sceneContext,
                                        int32_t& meshCount, int32_t& lightCount)
{
    switch (kind) {
    case memoryKind: {
        uint32_t n = 0;
        if (!stream.readValue(n) || n > stream.remaining())
            return false;
        const uint32_t written = memory.write(stream.memory() + stream.tell(), n);
        stream.seek(int32_t(n), 1);
        memory.seek(0, 0);
        return written == n;
    }
    case filesKind: return readFiles(stream);
    case meshCountKind: return readCount(stream, meshCount);
    case lightCountKind: return readCount(stream, lightCount);
    case meshesKind:
        if (meshCount <= 0)
            return true;
        if (!PackageFields::fits(stream, uint32_t(meshCount), minPartBytes))
            return false;
        for (int32_t i = 0; i < meshCount; ++i) {
            Mesh* mesh = new (std::nothrow) Mesh(this);
            // Without the mesh its block would be read as records.
            if (!mesh)
                return false;
            const bool whole = mesh->load(stream);
            meshes.append(mesh);
            if (!whole)
                return false;
        }
        return true;
    case physicsKind: return physics.load(stream);
    case lightsKind:
        if (lightCount <= 0)
            return true;
        if (!PackageFields::fits(stream, uint32_t(lightCount), minPartBytes))
            return false;
        for (int32_t i = 0; i < lightCount; ++i) {
            Light* light = new (std::nothrow) Light(this, sceneContext);
            if (!light)
                return false;
            lights.append(light);
            light->mainLight = i == 0 ? 1 : 0;
            const bool whole = light->load(stream);
            light->update();
            if (!whole)
                return false;
        }
        return true;
    case functionsKind: return Functions::createTemplates(functions, stream);
    default: return true; // later kinds carry nothing
    }
}

bool ObjPkgManager::Package::readFiles(FileArray& stream)
{
    uint32_t count = 0;
    if (!stream.readValue(count))
        return false;
    files.deleteAll();
    if (!PackageFields::fits(stream, count, minFileBytes))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        FileEntry* entry = new (std::nothrow) FileEntry;
        if (!entry)
            return false;
        uint32_t size = 0;
        if (!stream.readString(entry->name) || !stream.readValue(size) || size > stream.remaining() ||
            !entry->data.loadBytes(stream, size)) {
            delete entry;
            return false;
        }
        files.append(entry);
    }
    return true;
}

void ObjPkgManager::Package::finishBuild()
{
    D3D::Device::SwapChain* chain = getSwapChain();
    if (functions.farField == 0) {
        // A damaged share would make every object live everywhere or nowhere.
        const float share = functions.value5 >= 0.0f && functions.value5 <= PackageFields::maxFactor
                                ? functions.value5
                                : 0.7f;
        visibilityDistance = (chain ? chain->range : defaultCameraRange) * share;
        spareDistance = 0.0f;
    } else {
        for (int state = 0; state < farFieldStates; ++state)
            if (!farFieldObjects[state])
                farFieldObjects[state] = createFarFieldObject(uint8_t(state));
        farField = 1;
        visibilityDistance = chain && chain->farField ? chain->farField->distance : defaultFarFieldDistance;
    }
    rangeSq = visibilityDistance * visibilityDistance;
    BoundingBox box = originBox();
    calcBoundingBox(box);
    objectRadius = std::max(fastSqrt(box.minimum.lengthSq()), fastSqrt(box.maximum.lengthSq()));
}

void ObjPkgManager::Package::unbuild()
{
    CRASH_TRACE();
    built = 0;
    // The far field's objects show the meshes: they go first.
    for (Object*& object : farFieldObjects) {
        delete object;
        object = nullptr;
    }
    farField = 0;
    memory.close();
    functions.release();
    meshes.deleteAll();
    lights.deleteAll();
    physics.reset();
    files.deleteAll();
}

ObjPkgManager::Mesh* ObjPkgManager::Package::findMesh(const String& wanted) const
{
    for (auto* node = meshes.head(); node; node = node->next)
        if (node->item->getName()->sameText(wanted))
            return node->item;
    return nullptr;
}

FileArray* ObjPkgManager::Package::findFile(const String& wanted)
{
    for (auto* node = files.head(); node; node = node->next)
        if (node->item->name.sameText(wanted))
            return &node->item->data;
    return nullptr;
}

BoundingBox ObjPkgManager::Package::originBox()
{
    BoundingBox box;
    box.radius = 1.0f;
    box.radiusSq = 1.0f;
    return box;
}

BoundingBox& ObjPkgManager::Package::calcBoundingBox(BoundingBox& box) const
{
    bool first = true;
    for (auto* node = meshes.head(); node; node = node->next) {
        BoundingBox part = Mesh::emptyBounds();
        node->item->extendBounds(part);
        if (first) {
            box = part;
            first = false;
            continue;
        }
        const vec3d extent = box.maximum - box.minimum;
        if (extent.x == 0.0f && extent.y == 0.0f && extent.z == 0.0f) {
            box.center = part.center;
            box.minimum = part.minimum;
            box.maximum = part.maximum;
            continue;
        }
        box.minimum = {std::min(box.minimum.x, part.minimum.x), std::min(box.minimum.y, part.minimum.y),
                       std::min(box.minimum.z, part.minimum.z)};
        box.maximum = {std::max(box.maximum.x, part.maximum.x), std::max(box.maximum.y, part.maximum.y),
                       std::max(box.maximum.z, part.maximum.z)};
        box.center = (box.minimum + box.maximum) * 0.5f;
    }
    return box;
}

void ObjPkgManager::Package::addGeometriesTo(EntityManager::CollisionBody& body,
                                             EntityManager::CollisionBody::Geometry::Interface* second)
{
    for (auto* node = meshes.head(); node; node = node->next)
        node->item->attachGeometries(body, second);
}

D3D::Device::SwapChain* ObjPkgManager::Package::getSwapChain() const
{
    return owner ? owner->swapChain() : nullptr;
}

StaticEntityManager* ObjPkgManager::Package::manager() const
{
    D3D::Device::SwapChain* chain = getSwapChain();
    return chain ? chain->staticEntities : nullptr;
}

void ObjPkgManager::Package::renderFarField(uint8_t state, const matrix3d& transform)
{
    IDirect3DDevice9* d = gDevice;
    const Object* farObject = state < farFieldStates ? farFieldObjects[state] : nullptr;
    const auto* shown = farObject ? dynamic_cast<const DynObject*>(farObject->instance) : nullptr;
    if (!d || !shown)
        return;
    for (auto* node = shown->subEntities.head(); node; node = node->next) {
        EntityManager::SubEntity& sub = *node->item;
        EntityManager::StoredMesh& mesh = sub.mesh();
        if (sub.hidden || !mesh.vertexBuffer || !mesh.indexBuffer)
            continue;
        const matrix3d world = sub.hasOwnMatrix ? sub.local * transform : transform;
        mesh.bind();
        sub.material.applyStateBlocks();
        if (sub.beforeDraw)
            sub.beforeDraw(sub.material);
        sub.material.setCullMode();
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));
        sub.drawClipped();
        if (sub.material.saveBlock)
            sub.material.saveBlock->Apply();
    }
}

Object* ObjPkgManager::Package::createFarFieldObject(uint8_t state)
{
    Object* object = new (std::nothrow) PackageObject;
    if (!object)
        return nullptr;
    object->setState(state);
    object->setObject(this);
    if (!object->instance)
        object->instance = object->createInstance();
    if (StaticEntity::Instance* instance = object->instance) {
        instance->hidden = 1;
        // The far field's pictures need no body: it goes back to the budget.
        if (instance->physics) {
            instance->physics->release();
            delete instance->physics;
            instance->physics = nullptr;
        }
    }
    return object;
}
