#include "Entity/StoredMesh.h"

#include "Core/CrashTrace.h"

namespace {

SCList<EntityManager::StoredMesh> storedMeshes;

}

SCList<EntityManager::StoredMesh>& EntityManager::StoredMesh::list()
{
    return storedMeshes;
}

EntityManager::StoredMesh::StoredMesh(Source& source, bool takeTree) : ownsTree(takeTree)
{
    box.axes[0] = {1.0f, 0.0f, 0.0f};
    box.axes[1] = {0.0f, 1.0f, 0.0f};
    box.axes[2] = {0.0f, 0.0f, 1.0f};
    listNode = storedMeshes.append(this);
    build(source, takeTree);
}

EntityManager::StoredMesh::~StoredMesh()
{
    releaseData();
    if (listNode)
        storedMeshes.unlink(listNode);
}

void EntityManager::StoredMesh::releaseData()
{
    if (ownsTree)
        delete tree;
    tree = nullptr;
    ownsTree = false;
    uvs.reset();
    bones = nullptr;
    release();
}

bool EntityManager::StoredMesh::build(Source& source, bool takeTree)
{
    CRASH_TRACE();
    releaseData();
    // A tree made here belongs to this mesh alone: the source keeps none.
    bool madeTree = false;
    if (!source.getTriangleTree())
        madeTree = MeshTools::buildTriangleTree(source) != nullptr;
    if (source.getName() != &name)
        name = *source.getName();

    const BoundingBox& bounds = *source.getBounds();
    box.center = bounds.center;
    box.radius = 1.0f;
    box.radiusSq = bounds.radiusSq;
    box.halfExtents = bounds.maximum - bounds.center;

    if (madeTree || takeTree) {
        tree = source.takeTriangleTree();
        ownsTree = tree != nullptr;
    } else {
        tree = source.getTriangleTree();
    }
    uvs = MeshTools::copyUVs(source);
    BoneAnim* skeleton = source.getBoneAnim();
    bones = skeleton && skeleton->hasBones() ? skeleton : nullptr;
    return upload(source);
}

EntityManager::StoredMesh* EntityManager::StoredMesh::findByName(const String& wanted)
{
    const int32_t length = wanted.length();
    for (auto* node = storedMeshes.head(); node; node = node->next) {
        const String& candidate = node->item->name;
        if (candidate.length() != length)
            continue;
        const wchar_t* a = candidate.text();
        const wchar_t* b = wanted.text();
        int32_t i = 0;
        while (i < length && a[i] == b[i])
            ++i;
        if (i == length)
            return node->item;
    }
    return nullptr;
}

bool EntityManager::StoredMesh::isListed(const StoredMesh* mesh)
{
    for (auto* node = storedMeshes.head(); node; node = node->next)
        if (node->item == mesh)
            return true;
    return false;
}

void EntityManager::StoredMesh::releaseAll()
{
    storedMeshes.clearWith([](StoredMesh* mesh) {
        mesh->listNode = nullptr;
        delete mesh;
    });
}
