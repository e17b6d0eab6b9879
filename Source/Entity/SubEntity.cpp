#include "Entity/SubEntity.h"

#include "Entity/Entity.h"
#include "Entity/MeshOctree.h"
#include "Entity/StoredMesh.h"

#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/BoundingBox.h"

namespace {

// The enable mask of the first count user clip planes.
DWORD clipMask(uint32_t count)
{
    return count >= 32 ? 0xFFFFFFFFu : DWORD((1u << count) - 1u);
}

}

EntityManager::SubEntity::SubEntity(Entity& owner, StoredMesh& storedMesh, bool ownMatrix, StateCallback record,
                                    StateCallback drawHook)
    : entity(&owner), world(ownMatrix ? &own : &owner.world), hasOwnMatrix(ownMatrix),
      recordStates(std::move(record)), beforeDraw(std::move(drawHook))
{
    octree = MeshOctree::acquire(*owner.manager, storedMesh);
    entityEntry = owner.subEntities.append(this);
    localBox = storedMesh.box;
    if (!octree)
        return;
    if (!owner.cells.isPlaced()) {
        vec3d minimum, maximum;
        localBox.alignedBounds(minimum, maximum);
        owner.cells = SceneCells::truncatedBox(minimum, maximum, cellSize);
    }
    octree->place(*this, owner.cells);
}

EntityManager::SubEntity::~SubEntity()
{
    if (octree) {
        octree->remove(*this);
        if (entity->manager)
            MeshOctree::release(*entity->manager, octree);
    }
    if (entityEntry)
        entity->subEntities.unlink(entityEntry);
    material.releaseStateBlocks();
}

EntityManager::StoredMesh& EntityManager::SubEntity::mesh() const
{
    return *octree->mesh;
}

void EntityManager::SubEntity::setLocalBox(const BoundingBox& box)
{
    localBox.center = box.center;
    localBox.radius = 1.0f;
    localBox.radiusSq = box.radiusSq;
    localBox.axes[0] = {1.0f, 0.0f, 0.0f};
    localBox.axes[1] = {0.0f, 1.0f, 0.0f};
    localBox.axes[2] = {0.0f, 0.0f, 1.0f};
    localBox.halfExtents = box.maximum - box.center;
    columnSums = vec3d();
}

void EntityManager::SubEntity::draw()
{
    const StoredMesh& stored = mesh();
    gDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, stored.vertexCount, stored.startIndex,
                                  stored.triangleCount);
    gDirectGraphics.record.primitiveCount += stored.triangleCount;
}

void EntityManager::SubEntity::render()
{
    if (!gDevice || !octree)
        return;
    material.applyStateBlocks();
    if (beforeDraw)
        beforeDraw(material);
    material.setCullMode();
    gDevice->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world->m));
    drawClipped();
    if (material.saveBlock)
        material.saveBlock->Apply();
}

void EntityManager::SubEntity::drawClipped()
{
    if (!gDevice || !octree)
        return;
    if (!clipPlaneEnabled) {
        draw();
        return;
    }
    uint32_t& count = gDirectGraphics.record.clipPlaneCount;
    ++count;
    gDevice->SetRenderState(D3DRS_CLIPPLANEENABLE, clipMask(count));
    gDevice->SetClipPlane(count - 1, clipPlane);
    draw();
    --count;
    gDevice->SetRenderState(D3DRS_CLIPPLANEENABLE, clipMask(count));
}

void EntityManager::SubEntity::renderShadow()
{
    if (!gDevice || !octree)
        return;
    IDirect3DDevice9* d = gDevice;
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world->m));
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
    material.setCullMode();
    if (!material.alphaTest) {
        draw();
        return;
    }
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, material.addressU[0]);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, material.addressV[0]);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, material.alphaReference);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ZERO);
    d->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO);
    TextureDevice::bindTexture(0, material.textures[0].texture());
    material.setTextureTransforms();
    draw();
    d->SetTexture(0, nullptr);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
}

void EntityManager::SubEntity::recordStateBlocks()
{
    material.releaseStateBlocks();
    if (!gDevice || !recordStates)
        return;
    // Both blocks hold the same states: the first is applied, the second
    // captures what the first will overwrite.
    for (IDirect3DStateBlock9** block : {&material.applyBlock, &material.saveBlock}) {
        if (FAILED(gDevice->BeginStateBlock()))
            break;
        recordStates(material);
        if (FAILED(gDevice->EndStateBlock(block)))
            *block = nullptr;
    }
    if (!material.applyBlock || !material.saveBlock)
        material.releaseStateBlocks();
}
