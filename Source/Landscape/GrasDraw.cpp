// Drawing a grass layer: its texture, then each visible patch farthest
// first, streamed through the meadow's ring or from the patch's own range of
// the layer's pools, then the patches again under the projections that
// reach them.
#include "Landscape/GrasLayer.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/ReceiverPass.h"
#include "Render/TextureDevice.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"

namespace {

void freeRange(BufferRange*& range)
{
    if (range && range->pool)
        BufferPool::freeRange(*range->pool, range);
    range = nullptr;
}

// The vertices of range drawn over the quad indices, which cover a ring's
// worth of vertices: a longer range is drawn in pieces of that size.
void drawRange(const BufferRange& range, IDirect3DIndexBuffer9* indices)
{
    IDirect3DDevice9* d = gDevice;
    d->SetStreamSource(0, range.pool->vertexBuffer, 0, sizeof(Meadow::Vertex));
    d->SetIndices(indices);
    for (uint32_t first = 0; first < range.count; first += Meadow::bufferVertices) {
        const uint32_t left = range.count - first;
        const uint32_t count = left < Meadow::bufferVertices ? left : Meadow::bufferVertices;
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(range.start + first), 0, count, 0, count / 2);
        gDirectGraphics.record.primitiveCount += count / 2;
    }
}

}

void Meadow::GrasLayer::Patch::releaseCached()
{
    layer->retire(cached);
    cachedCount = 0;
}

void Meadow::GrasLayer::retire(BufferRange*& range)
{
    if (range)
        retired[0].push_back(range);
    range = nullptr;
}

void Meadow::GrasLayer::releaseDeviceBuffers()
{
    for (auto* node = patches.head(); node; node = node->next) {
        freeRange(node->item->cached);
        node->item->cachedCount = 0;
    }
    for (std::vector<BufferRange*>& list : retired) {
        for (BufferRange*& range : list)
            freeRange(range);
        list.clear();
    }
    pools.clear();
}

void Meadow::GrasLayer::Patch::drawStreamed()
{
    Meadow* meadow = layer->owner;
    const uint32_t perBlade = layer->verticesPerBlade;
    for (uint32_t k = 0; k < bladeCount; ++k) {
        const Blade& blade = blades[order[k]];
        if (blade.hidden)
            continue;
        Vertex* out = meadow->streamVertices(perBlade);
        if (!out)
            break;
        layer->writeBladeVertices(blade, out);
    }
}

void Meadow::GrasLayer::Patch::drawCached()
{
    const uint32_t perBlade = layer->verticesPerBlade;
    if (visibleCount != cachedCount || (visibleCount > 0 && !cached)) {
        cachedCount = visibleCount;
        layer->retire(cached);
        if (visibleCount > 0)
            cached = BufferPool::allocRange(layer->pools, visibleCount * perBlade);
        // A new range is one the device no longer draws from.
        void* bits = nullptr;
        if (cached &&
            SUCCEEDED(cached->pool->vertexBuffer->Lock(cached->start * sizeof(Vertex), cached->count * sizeof(Vertex),
                                                       &bits, D3DLOCK_NOOVERWRITE))) {
            Vertex* out = static_cast<Vertex*>(bits);
            Vertex* end = out + cached->count;
            for (uint32_t k = 0; k < bladeCount && out < end; ++k)
                if (const Blade& blade = blades[order[k]]; !blade.hidden)
                    out = layer->writeBladeVertices(blade, out);
            cached->pool->vertexBuffer->Unlock();
        } else {
            freeRange(cached);
            cachedCount = 0;
        }
    }
    if (cached)
        drawRange(*cached, layer->owner->quadIndices());
}

void Meadow::GrasLayer::Patch::drawProjected(TextureProj& projection)
{
    IDirect3DDevice9* d = gDevice;
    if (!gCamera)
        return;
    ReceiverPass pass;
    if (!pass.begin(projection, gCamera->view))
        return;
    // The projection lands only where the tuft is: its alpha from stage 1.
    TextureDevice::bindTexture(1, layer->texture.texture());
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    if (state == cachedPatch && cached) {
        drawRange(*cached, layer->owner->quadIndices());
    } else if (state == streamingPatch) {
        d->SetFVF(Vertex::format);
        drawStreamed();
        layer->owner->endStream();
    }
    pass.end(projection);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    d->SetTexture(1, nullptr);
}

void Meadow::GrasLayer::render(bool reflection)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d || verticesPerBlade == 0)
        return;
    TextureDevice::bindTexture(0, texture.texture());
    // Streamed patches in a row share batches; a cached patch between
    // them draws after what they streamed, keeping the order.
    for (uint32_t i = 0; i < drawCount; ++i) {
        Patch& patch = **drawList.at(int32_t(i));
        if (patch.state == cachedPatch) {
            owner->endStream();
            patch.drawCached();
        } else if (patch.state == streamingPatch) {
            patch.drawStreamed();
        }
    }
    owner->endStream();
    if (reflection || projectionCount == 0)
        return;
    for (uint32_t i = 0; i < projectionCount; ++i) {
        const PatchTexProj& pair = *patchProjections.at(int32_t(i));
        if (pair.projection && pair.patch)
            pair.patch->drawProjected(*pair.projection);
    }
    // Stage 0 as the grass draws it: the receiver pass left it modulating
    // with the texture's alpha; its coordinates and texture come back here.
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetFVF(Vertex::format);
    TextureDevice::bindTexture(0, texture.texture());
}
