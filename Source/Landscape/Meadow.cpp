#include "Landscape/Meadow.h"

#include "Landscape/GrasLayer.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"

#include <cstdlib>

Meadow::Meadow() : terrain(&gTerrain), water(&gWater), random([] { return int32_t(std::rand()); }) {}

Meadow::~Meadow()
{
    clear();
    ring.release();
    projections.clear(false);
    touchBodies.deleteAll();
}

void Meadow::deleteLayers() { layers.deleteAll(); }

void Meadow::createBuffers()
{
    CRASH_TRACE();
    static constexpr uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
    ring.createIndices(quad, int(bufferVertices / 4));
    ring.createVertices();
}

void Meadow::releaseDeviceBuffers()
{
    ring.releaseVertices();
    for (auto* node = layers.head(); node; node = node->next)
        node->item->releaseDeviceBuffers();
}

void Meadow::restoreDeviceBuffers()
{
    // Only a meadow that holds its indices had a ring before the reset.
    if (ring.indexBuffer)
        ring.createVertices();
}

void Meadow::clear()
{
    CRASH_TRACE();
    ring.release();
    deleteLayers();
    projections.clear(false);
}

void Meadow::addTexProj(TextureProj* projection)
{
    for (auto* node = projections.head(); node; node = node->next)
        if (node->item == projection)
            return;
    projections.append(projection);
}

void Meadow::removeTexProj(TextureProj* projection)
{
    for (auto* node = projections.head(); node; node = node->next)
        if (node->item == projection) {
            projections.unlink(node);
            return;
        }
}

void Meadow::update()
{
    CRASH_TRACE();
    if (!gCamera)
        return;
    for (auto* node = layers.head(); node; node = node->next)
        node->item->update(*gCamera);
}

void Meadow::render(uint32_t waterPass)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    const D3D::Device& record = gDirectGraphics.record;
    const bool reflection = record.reflectionPass != 0;
    if (!d || (reflection && !drawInReflections) || !ring.indexBuffer)
        return;
    bool any = false;
    for (auto* node = layers.head(); node && !any; node = node->next)
        any = node->item->state != GrasLayer::disabled && node->item->settings.onWater == waterPass &&
              node->item->drawCount > 0;
    if (!any)
        return;

    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 50);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ONE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    const matrix3d identity = matrix3d::identity();
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
    d->SetFVF(Vertex::format);
    d->SetIndices(ring.indexBuffer);

    for (auto* node = layers.head(); node; node = node->next) {
        GrasLayer& layer = *node->item;
        if (layer.state != GrasLayer::disabled && layer.settings.onWater == waterPass)
            layer.render(reflection);
    }

    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_CULLMODE, record.frontCull);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTexture(0, nullptr);
}

Meadow::Vertex* Meadow::streamVertices(uint32_t count)
{
    if (!ring.vertexBuffer || count >= batchCapacity)
        return nullptr;
    // A blade goes into the open batch while the batch stays below its
    // capacity; otherwise the batch is drawn and the next one takes it.
    if (!ring.open() || ring.vertices + count >= batchCapacity) {
        endStream();
        if (!ring.beginBatch())
            return nullptr;
    }
    return ring.reserve(count, count / 2);
}

void Meadow::endStream()
{
    if (!ring.open())
        return;
    const uint32_t triangles = ring.endBatch();
    if (ring.vertices > 0) {
        ring.drawBatch(triangles);
        // The ring sets its own stream; the cached patches set theirs.
    }
}
