// Drawing the ways: the pieces in the network's buffer pools, the ways pass,
// and the texture projections that reach the segments.
#include "Way/WayNetwork.h"

#include "Way/WayModeler.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/ReceiverPass.h"
#include "Render/TextureDevice.h"
#include "Render/TextureProj.h"

#include "Core/ConvexVolume.h"
#include "Core/CrashTrace.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t vertexStride = sizeof(Way::Vertex);

const D3DMATRIX identity{{{1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                           1.0f}}};

void freeRange(BufferRange*& range)
{
    if (range && range->pool)
        BufferPool::freeRange(*range->pool, range);
    range = nullptr;
}

// A projection link's entry for a piece: its range back to the pool, and
// nothing copied.
void release(Way::ProjectionLink::Entry& entry)
{
    freeRange(entry.range);
    entry = {};
}

// The texture of a modeler's slot: none for an empty slot (the part draws
// untextured), else the record's texture.
void bindSlot(uint32_t stage, const TextureRef& slot)
{
    if (slot.isBound())
        TextureDevice::bindTexture(stage, slot.texture());
    else
        gDevice->SetTexture(stage, nullptr);
}

// Copies bytes into a range of a pool's buffer.
template <class Buffer>
bool fill(Buffer* buffer, uint32_t offset, const void* bytes, uint32_t size)
{
    void* data = nullptr;
    if (!buffer || FAILED(buffer->Lock(offset, size, &data, 0)))
        return false;
    std::memcpy(data, bytes, size);
    buffer->Unlock();
    return true;
}

}

namespace Way {

bool Segment::uploadMesh(Mesh& piece, PartMesh& mesh)
{
    CRASH_TRACE();
    releasePiece(piece);
    const int32_t vertexCount = mesh.countedVertices();
    const int32_t indexCount = mesh.countedIndices();
    if (vertexCount <= 0 || indexCount <= 0)
        return false;
    BufferRange* vertices = BufferPool::allocRange(gWayNetwork.vertexPools, uint32_t(vertexCount));
    BufferRange* indices = vertices ? BufferPool::allocRange(gWayNetwork.indexPools, uint32_t(indexCount)) : nullptr;
    // Without both ranges the piece stays empty and draws nothing.
    bool copied = vertices && indices;
    if (copied) {
        std::vector<Vertex> packed(static_cast<size_t>(vertexCount));
        mesh.packVertices(packed.data());
        copied = fill(vertices->pool->vertexBuffer, vertices->start * vertexStride, packed.data(),
                      uint32_t(vertexCount) * vertexStride) &&
                 fill(indices->pool->indexBuffer, indices->start * sizeof(uint16_t), mesh.getIndices(),
                      uint32_t(indexCount) * sizeof(uint16_t));
    }
    if (!copied) {
        freeRange(vertices);
        freeRange(indices);
        return false;
    }
    piece.vertices = vertices;
    piece.indices = indices;
    piece.vertexCount = uint32_t(vertexCount);
    piece.indexCount = uint32_t(indexCount);
    piece.tree.reset(mesh.takeTriangleTree());
    return true;
}

void DrawRun::begin(Modeler& m)
{
    modeler = &m;
    blocks = m.restoreStateBlock && m.drawStateBlock;
    if (blocks) {
        m.restoreStateBlock->Capture();
        m.drawStateBlock->Apply();
    }
    m.shader.setCullMode();
}

void DrawRun::end()
{
    if (!modeler)
        return;
    IDirect3DDevice9* d = gDevice;
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    for (DWORD stage = 0; stage < 3; ++stage)
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    if (blocks)
        modeler->restoreStateBlock->Apply();
    modeler = nullptr;
    blocks = false;
}

void DrawRun::forget()
{
    vertices = nullptr;
    indices = nullptr;
    textureSet = false;
}

void Segment::drawPieces(DrawRun& run) const
{
    for (uint32_t i = 0; i < meshCount; ++i) {
        // Texture slot i for piece i; an empty slot draws the piece untextured.
        const TextureRef& slot = modeler->shader.textures[i < 2 ? i : 2];
        const Texture* texture = slot.isBound() ? slot.texture() : nullptr;
        if (!run.textureSet || run.texture != texture) {
            bindSlot(0, slot);
            run.texture = texture;
            run.textureSet = true;
        }
        drawPiece(meshes[i], run);
    }
}

void Segment::drawPiece(const Mesh& piece, DrawRun& run) const
{
    drawProjectionPiece(piece, piece.indices, piece.indexCount, run);
}

void Segment::drawProjectionPiece(const Mesh& piece, const BufferRange* indices, uint32_t indexCount,
                                  DrawRun& run) const
{
    IDirect3DDevice9* d = gDevice;
    if (!d || !indices || !indices->pool || !piece.vertices || !piece.vertices->pool || indexCount < 3)
        return;
    // The indices count from the piece's first vertex.
    if (run.indices != indices->pool->indexBuffer) {
        run.indices = indices->pool->indexBuffer;
        d->SetIndices(run.indices);
    }
    if (run.vertices != piece.vertices->pool->vertexBuffer) {
        run.vertices = piece.vertices->pool->vertexBuffer;
        d->SetStreamSource(0, run.vertices, 0, vertexStride);
    }
    const uint32_t triangles = indexCount / 3;
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(piece.vertices->start), 0, piece.vertexCount, indices->start,
                            triangles);
    gDirectGraphics.record.primitiveCount += triangles;
}

void Segment::collectProjectedTriangles(const MeshTools::BinaryTiangleTree* node, uint32_t& checksum,
                                        std::vector<uint16_t>& indices, const ConvexVolume& volume)
{
    if (!node || volume.classifyBox(node->box) == ConvexVolume::outside)
        return;
    if (!node->children[0] && !node->children[1]) {
        if (const triangle3dex* t = node->triangle)
            for (uint16_t v : t->vertices) {
                indices.push_back(v);
                checksum += v;
            }
        return;
    }
    collectProjectedTriangles(node->children[0], checksum, indices, volume);
    collectProjectedTriangles(node->children[1], checksum, indices, volume);
}

void Segment::render(uint32_t withProjections)
{
    // A segment without pieces (a hollow's) has nothing to draw, and its
    // projections draw the same nothing.
    if (!gDevice || !modeler || meshCount == 0)
        return;
    DrawRun run;
    run.begin(*modeler);
    drawPieces(run);
    run.end();
    if (withProjections && projections.count() > 0)
        renderProjections();
}

void Segment::renderProjections()
{
    IDirect3DDevice9* d = gDevice;
    std::vector<uint16_t> collected;
    const uint32_t pieces = meshCount < 8 ? meshCount : 8;
    {
        ReceiverPass pass;
        for (auto* node = projections.head(); node; node = node->next) {
            ProjectionLink& link = *node->item;
            TextureProj* projection = link.record ? link.record->projection : nullptr;
            if (!projection || projection->disabled)
                continue;
            // The piece's triangles in the projection's volume, copied again
            // only when they are not the ones last copied.
            for (uint32_t i = 0; i < pieces; ++i) {
                ProjectionLink::Entry& entry = link.entries[i];
                if (!projection->changed && entry.range)
                    continue;
                uint32_t checksum = 0;
                collected.clear();
                collectProjectedTriangles(meshes[i].tree.get(), checksum, collected, projection->volume);
                if (collected.empty()) {
                    release(entry);
                } else if (checksum != entry.checksum || !entry.range || entry.count != collected.size()) {
                    release(entry);
                    BufferRange* range = BufferPool::allocRange(gWayNetwork.indexPools, uint32_t(collected.size()));
                    if (range && fill(range->pool->indexBuffer, range->start * sizeof(uint16_t), collected.data(),
                                      uint32_t(collected.size() * sizeof(uint16_t))))
                        entry = {range, uint32_t(collected.size()), checksum};
                    else
                        freeRange(range);
                }
            }
            if (!pass.begin(*projection, gCamera ? gCamera->view : matrix3d::identity()))
                continue;
            const bool lit = projection->isLight();
            d->SetTransform(D3DTS_WORLD, &identity);
            const bool blocks = lit && modeler->restoreStateBlock && modeler->drawStateBlock;
            if (lit) {
                // A light brightens the road's own texture.
                d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
                d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
                d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
                if (blocks) {
                    modeler->restoreStateBlock->Capture();
                    modeler->drawStateBlock->Apply();
                }
                modeler->shader.setCullMode();
            }
            DrawRun run;
            for (uint32_t i = 0; i < pieces; ++i) {
                const ProjectionLink::Entry& entry = link.entries[i];
                if (!entry.range)
                    continue;
                bindSlot(1, modeler->shader.textures[i < 2 ? i : 2]);
                drawProjectionPiece(meshes[i], entry.range, entry.count, run);
            }
            if (lit) {
                d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
                if (blocks)
                    modeler->restoreStateBlock->Apply();
                d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
                d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
                d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            }
            pass.end(*projection);
        }
    }
    // What the passes left on the receiver's stages.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTexture(0, nullptr);
    d->SetTexture(1, nullptr);
}

}

void WayNetwork::unlink(Way::ProjectionLink* link)
{
    if (link->segmentNode && link->segmentNode->owner)
        link->segmentNode->owner->unlink(link->segmentNode);
    if (link->recordNode && link->recordNode->owner)
        link->recordNode->owner->unlink(link->recordNode);
    for (Way::ProjectionLink::Entry& entry : link->entries)
        release(entry);
    delete link;
}

void WayNetwork::addTexProj(TextureProj* projection)
{
    if (!projection)
        return;
    for (auto* node = projectionRecords.head(); node; node = node->next)
        if (node->item->projection == projection)
            return;
    auto* record = new Way::ProjectionRecord;
    record->projection = projection;
    if (!projectionRecords.append(record))
        delete record;
}

void WayNetwork::removeTexProj(TextureProj* projection)
{
    for (auto* node = projectionRecords.head(); node; node = node->next) {
        Way::ProjectionRecord* record = node->item;
        if (record->projection != projection)
            continue;
        while (record->links.head())
            unlink(record->links.head()->item);
        projectionRecords.unlink(node);
        delete record;
        return;
    }
}

void WayNetwork::updateProjections()
{
    CRASH_TRACE();
    for (Way::Segment* segment : segments) {
        if (segment->modeler && !segment->modeler->receivesProjections)
            continue;
        for (auto* node = projectionRecords.head(); node; node = node->next) {
            Way::ProjectionRecord* record = node->item;
            TextureProj* projection = record->projection;
            if (!projection || !projection->changed)
                continue;
            Way::ProjectionLink* link = nullptr;
            for (auto* l = segment->projections.head(); l && !link; l = l->next)
                if (l->item->record == record)
                    link = l->item;
            const bool reaches = projection->volume.classifyBox(segment->bounds) != ConvexVolume::outside;
            if (!reaches && link) {
                // The link's storage and ranges go with it.
                unlink(link);
            } else if (reaches && !link) {
                link = new Way::ProjectionLink;
                link->record = record;
                link->segmentNode = segment->projections.append(link);
                link->recordNode = link->segmentNode ? record->links.append(link) : nullptr;
                if (!link->recordNode)
                    unlink(link);
            }
        }
    }
}

void WayNetwork::render(uint32_t withProjections)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d || !gCamera || segments.empty())
        return;
    d->SetTransform(D3DTS_WORLD, &identity);
    d->SetMaterial(&material);
    d->SetFVF(Way::vertexFormat);
    const vec3d eye = gCamera->position;
    const ConvexVolume& frustum = gCamera->frustum;
    // The segments in view, in walk order. A run of consecutive segments of
    // one modeler shares its states; within it the pieces of one part go
    // together (one texture), each piece of one pool with the buffers set
    // once. Pieces do not overlap, so the order draws the same picture.
    visible_.clear();
    for (Way::Segment* segment : segments) {
        const Way::Modeler* m = segment->modeler;
        if (!m || !m->drawn || segment->meshCount == 0)
            continue;
        const BoundingBox& box = segment->bounds;
        const float dx = eye.x - box.center.x, dz = eye.z - box.center.z;
        if (dx * dx + dz * dz < m->visibleDistanceSq && frustum.classifyBox(box) != ConvexVolume::outside)
            visible_.push_back(segment);
    }
    Way::DrawRun run;
    for (size_t first = 0; first < visible_.size();) {
        Way::Modeler& m = *visible_[first]->modeler;
        size_t last = first;
        uint32_t parts = 0;
        while (last < visible_.size() && visible_[last]->modeler == &m)
            parts = std::max(parts, visible_[last++]->meshCount);
        run.begin(m);
        for (uint32_t part = 0; part < parts; ++part) {
            const TextureRef& slot = m.shader.textures[part < 2 ? part : 2];
            bindSlot(0, slot);
            for (size_t i = first; i < last; ++i)
                if (part < visible_[i]->meshCount)
                    visible_[i]->drawPiece(visible_[i]->meshes[part], run);
        }
        run.end();
        if (withProjections)
            for (size_t i = first; i < last; ++i)
                if (visible_[i]->projections.count() > 0) {
                    visible_[i]->renderProjections();
                    run.forget();
                    d->SetFVF(Way::vertexFormat);
                    d->SetTransform(D3DTS_WORLD, &identity);
                }
        first = last;
    }
}
