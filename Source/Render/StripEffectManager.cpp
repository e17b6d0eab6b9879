#include "Render/StripEffectManager.h"

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include "Core/CrashTrace.h"

StripEffectManager::~StripEffectManager()
{
    ring.release();
    defaults.texture.release();
    groups.clear(false);
}

bool StripEffectManager::createStripIndices()
{
    if (!indicesCreated)
        indicesCreated = ring.createIndices();
    return indicesCreated;
}

void StripEffectManager::update()
{
    for (auto* group = groups.head(); group; group = group->next)
        if (group->item)
            for (auto* item = group->item->items.head(); item; item = item->next)
                if (item->item)
                    item->item->update();
}

void StripEffectManager::render()
{
    for (auto* node = groups.head(); node; node = node->next)
        if (node->item)
            node->item->render(ring);
}

bool StripEffectManager::anyEffectInVolume(const ConvexVolume& volume) const
{
    for (auto* group = groups.head(); group; group = group->next) {
        if (!group->item || group->item->hidden)
            continue;
        for (auto* item = group->item->items.head(); item; item = item->next)
            if (item->item && volume.classifyOrientedBox(item->item->box()) != ConvexVolume::outside)
                return true;
    }
    return false;
}

bool StripEffectManager::drawInVolume(const ConvexVolume& volume)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return false;
    bool drawn = false;
    for (auto* node = groups.head(); node; node = node->next) {
        StripEffectGroup* group = node->item;
        if (!group || group->hidden)
            continue;
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(group->world.m));
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHAREF, 128);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        // Both alpha factors zero: covered texels of a map get alpha 0, as
        // the casters' do.
        d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ZERO);
        d->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO);
        drawn = group->drawBatch(ring, &volume) > 0 || drawn;
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
    }
    return drawn;
}
