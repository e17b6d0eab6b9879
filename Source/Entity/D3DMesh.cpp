#include "Entity/D3DMesh.h"

#include "Entity/EntityManager.h"

#include "Render/BufferPool.h"
#include "Render/D3DDevice.h"

#include "Core/CrashTrace.h"

void D3DMeshBuffers::release()
{
    D3D::releaseInterface(vertexBuffer);
    D3D::releaseInterface(indexBuffer);
    vertexCount = 0;
    indexCount = 0;
    startIndex = 0;
    triangleCount = 0;
}

bool D3DMeshBuffers::create(const void* vertices, uint32_t vertexTotal, uint32_t stride, uint32_t fvf,
                            const uint16_t* indices, uint32_t indexTotal)
{
    CRASH_TRACE();
    release();
    CrashTrace::setLastValues(intptr_t(vertexTotal), intptr_t(gDevice));
    if (vertexTotal > 0 && !(vertexBuffer = createVertexBufferFrom(vertices, vertexTotal, stride, fvf))) {
        release();
        return false;
    }
    CrashTrace::setLastValues(intptr_t(indexTotal), intptr_t(gDevice));
    if (indexTotal > 0 && !(indexBuffer = createIndexBufferFrom(indices, indexTotal))) {
        release();
        return false;
    }
    vertexCount = vertexTotal;
    indexCount = indexTotal;
    triangleCount = indexTotal / 3;
    return true;
}

void D3DMeshBuffers::bind(uint32_t fvf, uint32_t stride) const
{
    if (!gDevice)
        return;
    gDevice->SetFVF(fvf);
    gDevice->SetStreamSource(0, vertexBuffer, 0, stride);
    gDevice->SetIndices(indexBuffer);
}

template class D3DMesh<vec3d, 2>;
template class D3DMesh<EntityManager::MeshVertex, 274>;
