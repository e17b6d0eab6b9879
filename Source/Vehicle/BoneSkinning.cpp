#include "Vehicle/BoneSkinning.h"

#include <d3d9.h>

static_assert(sizeof(Bone::Vertex) == 4);
static_assert(sizeof(EntityManager::MeshVertex) == 32);

void skinVerticesByBone(EntityManager::StoredMesh& drawn, EntityManager::StoredMesh::Source& boned)
{
    if (!drawn.vertexBuffer)
        return;
    const int32_t count = *boned.getVertexCount();
    if (count < 0 || uint32_t(count) != drawn.vertexCount || boned.countedVertices() != count)
        return;
    void* data = nullptr;
    if (FAILED(drawn.vertexBuffer->Lock(0, 0, &data, 0)))
        data = nullptr;
    if (data)
        boned.packVertices(static_cast<EntityManager::MeshVertex*>(data));
    drawn.vertexBuffer->Unlock();
}
