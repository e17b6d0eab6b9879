#include "Render/StripEffect.h"

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"

#include <algorithm>

bool StripEffectRing::createIndices()
{
    const uint16_t twoQuads[12] = {0, 1, 2, 2, 1, 3, 2, 3, 4, 4, 3, 5};
    return VertexRing::createIndices(twoQuads, pieceCopies);
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

uint32_t StripEffectGroup::drawBatch(StripEffectRing& ring, const ConvexVolume* volume)
{
    IDirect3DDevice9* d = gDevice;
    TextureDevice::bindTexture(0, texture.texture());
    const bool locked = ring.beginBatch();
    if (locked)
        d->SetFVF(StripVertex::format);
    uint32_t drawn = 0;
    for (auto* node = items.head(); node; node = node->next) {
        StripEffectItem* item = node->item;
        if (!item || (volume && volume->classifyOrientedBox(item->box()) == ConvexVolume::outside))
            continue;
        const uint32_t before = ring.vertices;
        item->writeVertices(ring);
        drawn += ring.vertices > before ? 1 : 0;
    }
    const uint32_t written = ring.vertices;
    // The shared index buffer ends after its copies of the strip piece.
    constexpr uint32_t indexedTriangles = StripEffectRing::pieceCopies * StripEffectRing::pieceTriangles;
    const uint32_t triangles = std::min(ring.endBatch(), indexedTriangles);
    if (locked && written > 0)
        ring.drawBatch(triangles);
    return drawn;
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
    drawBatch(ring, nullptr);

    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    d->SetRenderState(D3DRS_ADAPTIVETESS_Y, 0);
}
