#include "Render/StripEffect.h"

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/ArrayStack.h"
#include "Core/CrashTrace.h"

#include <algorithm>

bool StripEffectRing::createIndices()
{
    CRASH_TRACE();
    if (indexBuffer)
        return true;
    ArrayStack<uint16_t, 12> piece;
    const uint16_t twoQuads[12] = {0, 1, 2, 2, 1, 3, 2, 3, 4, 4, 3, 5};
    for (int i = 0; i < 12; ++i)
        *piece.at(i) = twoQuads[i];
    indexBuffer = createRepeatedIndexBuffer(piece, pieceCopies);
    return indexBuffer != nullptr;
}

bool StripEffectRing::createVertices()
{
    CRASH_TRACE();
    if (!vertexBuffer && indexBuffer && gDevice &&
        FAILED(gDevice->CreateVertexBuffer(ringVertices * sizeof(StripVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                           StripVertex::format, D3DPOOL_DEFAULT, &vertexBuffer, nullptr)))
        vertexBuffer = nullptr;
    start = 0;
    return vertexBuffer != nullptr;
}

void StripEffectRing::releaseVertices()
{
    endBatch();
    D3D::releaseInterface(vertexBuffer);
}

void StripEffectRing::release()
{
    releaseVertices();
    D3D::releaseInterface(indexBuffer);
}

bool StripEffectRing::beginBatch()
{
    vertices = 0;
    triangles = 0;
    if (!vertexBuffer || locked_)
        return false;
    lastLockFlags = start == 0 ? D3DLOCK_DISCARD : D3DLOCK_NOOVERWRITE;
    void* bits = nullptr;
    if (FAILED(vertexBuffer->Lock(start * sizeof(StripVertex), batchVertices * sizeof(StripVertex), &bits,
                                  lastLockFlags)))
        return false;
    locked_ = static_cast<StripVertex*>(bits);
    return locked_ != nullptr;
}

uint32_t StripEffectRing::endBatch()
{
    if (!locked_)
        return 0;
    vertexBuffer->Unlock();
    locked_ = nullptr;
    return triangles;
}

void StripEffectRing::advance()
{
    start += batchVertices;
    if (start >= ringVertices)
        start = 0;
}

StripVertex* StripEffectRing::reserve(uint32_t vertexCount, uint32_t triangleCount)
{
    if (!locked_ || vertexCount > batchVertices - vertices)
        return nullptr;
    StripVertex* at = locked_ + vertices;
    vertices += vertexCount;
    triangles += triangleCount;
    return at;
}

uint32_t StripEffectRing::room() const
{
    return locked_ ? batchVertices - vertices : 0;
}

OrientedBox StripEffectItem::box() const
{
    OrientedBox b;
    b.center = origin + axes[1] * (length * 0.5f);
    for (int i = 0; i < 3; ++i)
        b.axes[i] = axes[i];
    b.halfExtents = {length, length * 0.5f, length};
    return b;
}

void StripEffectGroup::render(StripEffectRing& ring)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    D3DMATERIAL9 material{};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.6f, 0.6f, 0.6f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    d->SetMaterial(&material);
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));
    if (hidden)
        return;

    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 0x80);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    // The drivers' switch for supersampled alpha testing ("SSAA").
    d->SetRenderState(D3DRS_ADAPTIVETESS_Y, MAKEFOURCC('S', 'S', 'A', 'A'));
    TextureDevice::bindTexture(0, texture.texture());
    d->SetIndices(ring.indexBuffer);

    const bool locked = ring.beginBatch();
    if (locked)
        d->SetFVF(StripVertex::format);
    for (auto* node = items.head(); node; node = node->next)
        if (node->item)
            node->item->writeVertices(ring);
    const uint32_t written = ring.vertices;
    // The shared index buffer ends after its copies of the strip piece.
    constexpr uint32_t indexedTriangles = StripEffectRing::pieceCopies * StripEffectRing::pieceTriangles;
    const uint32_t triangles = std::min(ring.endBatch(), indexedTriangles);
    if (locked && written > 0) {
        d->SetStreamSource(0, ring.vertexBuffer, ring.start * sizeof(StripVertex), sizeof(StripVertex));
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, StripEffectRing::batchVertices, 0, triangles);
        gDirectGraphics.record.primitiveCount += triangles;
        ring.advance();
    }

    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    d->SetRenderState(D3DRS_ADAPTIVETESS_Y, 0);
}
