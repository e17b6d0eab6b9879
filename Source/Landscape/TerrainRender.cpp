// Drawing the terrain: fine patches (levels 0 to 2) from vertex ranges in
// shared pools, coarse patches gathered into one dynamic batch, the tiles'
// light and colour texels, and the device buffers a reset re-creates.
#include "Landscape/Terrain.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"
#include "Render/ReceiverPass.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"

#include <bit>
#include <cstring>

namespace {

constexpr float tileTextureScale = 1.0f / 1026.0f;

// A texture matrix for 2D coordinates: scale, then the translation, which
// Direct3D takes from the third row for two-element coordinates.
matrix3d textureMatrix(float scale, float u, float v)
{
    matrix3d m = matrix3d::identity();
    m.m[0] = scale;
    m.m[5] = scale;
    m.m[8] = u;
    m.m[9] = v;
    return m;
}

void setTextureMatrix(DWORD stage, const matrix3d& m)
{
    gDevice->SetTransform(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + stage), reinterpret_cast<const D3DMATRIX*>(m.m));
}

uint32_t nibble(float v)
{
    const int32_t k = int32_t(v * 15.0f);
    return uint32_t(k < 0 ? 0 : k > 15 ? 15 : k);
}

}

const LightRecord& Terrain::currentSun()
{
    static const LightRecord noon;
    return gSunLight ? *gSunLight : noon;
}

void Terrain::buildIndexSets()
{
    std::vector<uint16_t> points;
    for (int32_t level = finestLod; level <= coarsestLod; ++level)
        for (int32_t lower = 0; lower < 3; ++lower)
            for (int32_t left = 0; left < 3; ++left) {
                IndexSet& set = indexSets[indexSetOf(level, lower, left)];
                triangulate(level, lower, left, points, set.indices);
                set.table.clear();
                for (uint16_t v : points)
                    set.table.push_back({uint32_t(v % gridPoints), uint32_t(v / gridPoints), float(v % gridPoints),
                                         -float(v / gridPoints)});
                set.triangles = uint32_t(set.indices.size() / 3);
                D3D::releaseInterface(set.buffer);
                set.buffer = createIndexBufferFrom(set.indices.data(), uint32_t(set.indices.size()));
            }
}

void Terrain::createDeviceBuffers()
{
    CRASH_TRACE();
    if (patches.empty() || !gDevice)
        return;
    if (!batchVertices)
        gDevice->CreateVertexBuffer(batchCapacity * sizeof(Vertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, vertexFormat,
                                    D3DPOOL_DEFAULT, &batchVertices, nullptr);
    if (!batchIndices)
        gDevice->CreateIndexBuffer(batchIndexCapacity * 2, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                   D3DPOOL_DEFAULT, &batchIndices, nullptr);
    windowStart = 0;
    // The tiles in range get their textures back, and every patch in view
    // writes its texels again; the fine patches take new vertex ranges when
    // next drawn.
    bool restored = false;
    for (Tile& tile : tiles)
        if (tile.inRange && !tile.hasTextures()) {
            createTileTextures(tile);
            restored = true;
        }
    if (restored)
        for (int32_t p : detailed) {
            PatchData& data = *patches[size_t(p)].detail;
            data.lightDirty = data.textureDirty = 1;
            waiting.push_back(p);
        }
}

void Terrain::releaseDeviceBuffers()
{
    D3D::releaseInterface(batchVertices);
    D3D::releaseInterface(batchIndices);
    lockedVertices = nullptr;
    lockedIndices = nullptr;
    // The fine patches' pools and the tile textures are default-pool objects
    // too; the tiles remember that they want theirs back.
    for (int32_t p : detailed)
        patches[size_t(p)].detail->range = nullptr;
    restingRanges.clear();
    vertexPools.clear();
    for (Tile& tile : tiles) {
        const bool wanted = tile.inRange;
        releaseTileTextures(tile);
        tile.inRange = wanted;
    }
    pendingTexels.clear();
    D3D::releaseInterface(texelPoints);
    texelPointStart = 0;
    D3D::releaseInterface(texelStates);
}

void Terrain::render(int32_t flag)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!isLoaded() || !d || !gCamera)
        return;
    const Camera& camera = *gCamera;
    drawPendingTexels();
    for (DWORD stage = 0; stage < 4; ++stage) {
        d->SetTextureStageState(stage, D3DTSS_COLOROP, colourOps[stage]);
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        if (stage > 0)
            d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, 0);
    }
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.backCull);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    for (int k = 0; k < 2; ++k) {
        const DWORD stage = DWORD(2 + k);
        IDirect3DTexture9* texture = overlays[k].isBound() ? overlays[k].texture()->texture : nullptr;
        d->SetTexture(stage, texture);
        // A level without this overlay passes the colour on unchanged.
        if (!texture)
            d->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    }
    setTextureMatrix(3, textureMatrix(secondOverlayScale, 0.0f, 0.0f));
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));

    projectionPass = flag;
    batchVertexCount = batchTriangleCount = batchIndexCount = 0;
    d->SetFVF(vertexFormat);
    lockBatch();
    boundTile = nullptr;
    drawNode(root, false, camera);
    boundTile = nullptr;
    if (batchVertexCount == 0)
        unlockBatch();
    else
        flushBatch(false);

    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    for (DWORD stage = 1; stage < 4; ++stage)
        d->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    for (DWORD stage = 0; stage < 3; ++stage)
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    for (DWORD stage = 1; stage < 4; ++stage)
        d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, stage);
    d->SetTextureStageState(3, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT1);
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    for (DWORD stage = 0; stage < 4; ++stage)
        d->SetTexture(stage, nullptr);
    projectionPass = 1;
}

void Terrain::lockBatch()
{
    lockedVertices = nullptr;
    lockedIndices = nullptr;
    if (!batchVertices || !batchIndices)
        return;
    void* vertices = nullptr;
    void* indices = nullptr;
    const DWORD flags = windowStart ? D3DLOCK_NOOVERWRITE : D3DLOCK_DISCARD;
    if (FAILED(batchVertices->Lock(windowStart * sizeof(Vertex), batchWindow * sizeof(Vertex), &vertices, flags)))
        return;
    if (FAILED(batchIndices->Lock(0, 0, &indices, D3DLOCK_DISCARD))) {
        batchVertices->Unlock();
        return;
    }
    lockedVertices = static_cast<Vertex*>(vertices);
    lockedIndices = static_cast<uint16_t*>(indices);
}

void Terrain::unlockBatch()
{
    if (lockedVertices)
        batchVertices->Unlock();
    if (lockedIndices)
        batchIndices->Unlock();
    lockedVertices = nullptr;
    lockedIndices = nullptr;
}

void Terrain::flushBatch(bool relock)
{
    if (batchVertexCount == 0)
        return;
    IDirect3DDevice9* d = gDevice;
    unlockBatch();
    d->SetIndices(batchIndices);
    d->SetStreamSource(0, batchVertices, 0, sizeof(Vertex));
    setTextureMatrix(0, textureMatrix(tileTextureScale, 0.0f, 0.0f));
    setTextureMatrix(1, textureMatrix(tileTextureScale, 0.0f, 0.0f));
    setTextureMatrix(2, textureMatrix(overlayScale, 0.0f, 0.0f));
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(windowStart), 0, batchVertexCount, 0, batchTriangleCount);
    gDirectGraphics.record.primitiveCount += batchTriangleCount;
    windowStart += batchWindow;
    if (windowStart >= uint32_t(batchCapacity))
        windowStart = 0;
    batchVertexCount = batchTriangleCount = batchIndexCount = 0;
    if (relock)
        lockBatch();
}

void Terrain::drawNode(Quadtree& node, bool tileBound, const Camera& camera)
{
    const float range = camera.range;
    const float d2 = (node.centre - camera.position).lengthSq();
    int32_t classification = ConvexVolume::intersecting;
    if (d2 > (range + node.radius) * (range + node.radius))
        classification = ConvexVolume::outside;
    else if ((range - node.radius > 0.0f && d2 < (range - node.radius) * (range - node.radius)) || node.leaf)
        classification = camera.frustum.classifyBox(node.minimum, node.maximum);

    if (!tileBound && node.tile) {
        if (classification == ConvexVolume::outside)
            return;
        flushBatch(true);
        boundTile = node.tile;
        gDevice->SetTexture(0, node.tile->light);
        gDevice->SetTexture(1, node.tile->colour);
        tileBound = true;
    }
    if (tileBound && (classification == ConvexVolume::inside ||
                      (node.leaf && classification == ConvexVolume::intersecting))) {
        for (int32_t p : node.items)
            if (patches[size_t(p)].detail)
                drawPatch(patches[size_t(p)]);
        return;
    }
    if (classification == ConvexVolume::outside || node.leaf)
        return;
    for (Quadtree* child : node.children)
        if (child)
            drawNode(*child, tileBound, camera);
}

void Terrain::drawPatch(Patch& patch)
{
    PatchData& data = *patch.detail;
    const IndexSet& set = indexSets[indexSetOf(patch.level, patch.lowerFlag, patch.leftFlag)];
    // A coarse patch joins the batch unless a projection reaches it: those
    // draw it again, which needs its own vertices.
    if (patch.level > 2 && data.projectionCount == 0) {
        batchPatch(data, set);
        return;
    }
    const uint32_t vertexCount = uint32_t(set.table.size());
    if (!data.range || data.rangeLevel != patch.level || data.rangeLower != patch.lowerFlag ||
        data.rangeLeft != patch.leftFlag) {
        data.rangeLevel = patch.level;
        data.rangeLower = patch.lowerFlag;
        data.rangeLeft = patch.leftFlag;
        data.verticesDirty = 1;
        retireRange(data.range);
        data.range = BufferPool::allocRange(vertexPools, vertexCount);
        if (!data.range)
            return;
        // No range the device may still draw from is handed out again (they
        // rest first), so the new vertices need not wait for it.
        IDirect3DVertexBuffer9* buffer = data.range->pool->vertexBuffer;
        void* locked = nullptr;
        if (FAILED(buffer->Lock(data.range->start * sizeof(Vertex), vertexCount * sizeof(Vertex), &locked,
                                D3DLOCK_NOOVERWRITE)))
            return;
        Vertex* out = static_cast<Vertex*>(locked);
        for (const IndexSet::Entry& e : set.table)
            *out++ = {e.x + float(data.x0), data.heights[e.column][e.row], e.z + float(data.z0), e.x, e.z};
        buffer->Unlock();
        data.verticesDirty = 0;
    }
    IDirect3DDevice9* d = gDevice;
    d->SetIndices(set.buffer);
    d->SetStreamSource(0, data.range->pool->vertexBuffer, 0, sizeof(Vertex));
    const matrix3d tile =
        textureMatrix(tileTextureScale, (data.tu + 1.0f) * tileTextureScale, (data.tv + 1.0f) * tileTextureScale);
    setTextureMatrix(0, tile);
    setTextureMatrix(1, tile);
    const float origin = float(16 * patchesPerSide);
    setTextureMatrix(2, textureMatrix(overlayScale, (float(data.x0) + origin) * overlayScale,
                                      (float(data.z0) + origin) * overlayScale));
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(data.range->start), 0, vertexCount, 0, set.triangles);
    gDirectGraphics.record.primitiveCount += set.triangles;
    if (projectionPass && data.projectionCount > 0)
        drawProjections(data, vertexCount, set.triangles);
}

void Terrain::drawProjections(PatchData& data, uint32_t vertexCount, uint32_t triangles)
{
    IDirect3DDevice9* d = gDevice;
    {
        ReceiverPass pass;
        for (int32_t i = 0; i < data.projectionCount; ++i) {
            TextureProj* projection = *data.projections.at(i);
            if (!pass.begin(*projection, gCamera->view))
                continue;
            d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(data.range->start), 0, vertexCount, 0, triangles);
            gDirectGraphics.record.primitiveCount += triangles;
            pass.end(*projection);
        }
    }
    d->SetTextureStageState(0, D3DTSS_COLOROP, colourOps[0]);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, colourOps[1]);
    d->SetTexture(0, boundTile ? boundTile->light : nullptr);
}

void Terrain::batchPatch(const PatchData& data, const IndexSet& set)
{
    const uint32_t vertexCount = uint32_t(set.table.size());
    if (batchVertexCount + vertexCount >= uint32_t(batchWindow) ||
        batchIndexCount + set.indices.size() > size_t(batchIndexCapacity))
        flushBatch(true);
    if (!lockedVertices || !lockedIndices)
        return;
    Vertex* out = lockedVertices + batchVertexCount;
    for (const IndexSet::Entry& e : set.table)
        *out++ = {e.x + float(data.x0), data.heights[e.column][e.row], e.z + float(data.z0), e.x + data.tu + 1.0f,
                  e.z + data.tv + 1.0f};
    uint16_t* indices = lockedIndices + batchIndexCount;
    for (uint16_t index : set.indices)
        *indices++ = uint16_t(index + batchVertexCount);
    batchVertexCount += vertexCount;
    batchIndexCount += uint32_t(set.indices.size());
    batchTriangleCount += set.triangles;
}

void Terrain::refreshTexels()
{
    if (tiles.empty() || !gDevice)
        return;
    // Only a sun that moved at all can have moved past a patch's thresholds.
    const LightRecord& sun = currentSun();
    float colours[8];
    std::memcpy(colours, sun.diffuse, sizeof(sun.diffuse));
    std::memcpy(colours + 4, sun.ambient, sizeof(sun.ambient));
    if (!(sun.direction == sunDirection) || std::memcmp(colours, sunColours, sizeof(colours)) != 0) {
        sunDirection = sun.direction;
        std::memcpy(sunColours, colours, sizeof(colours));
        for (int32_t p : detailed) {
            PatchData& data = *patches[size_t(p)].detail;
            if (data.light.trackSunChange(sun.direction, sun.diffuse, sun.ambient)) {
                lightPatch(data);
                data.lightDirty = 1;
                waiting.push_back(p);
            }
        }
    }
    if (waiting.empty())
        return;
    std::vector<int32_t> later;
    for (int32_t p : waiting) {
        Patch& patch = patches[size_t(p)];
        PatchData* data = patch.detail;
        if (!data || !(data->lightDirty || data->textureDirty))
            continue;
        if (!data->tile || !data->tile->hasTextures()) {
            later.push_back(p);
            continue;
        }
        if (data->lightDirty)
            writeBlock(patch, true, data->lightTexels);
        if (data->textureDirty)
            writeBlock(patch, false, data->colours);
        data->lightDirty = data->textureDirty = 0;
    }
    waiting.swap(later);
}

void Terrain::dropPendingTexels(const IDirect3DTexture9* texture)
{
    for (size_t k = 0; k < pendingTexels.size();)
        if (pendingTexels[k].target == texture) {
            pendingTexels[k] = std::move(pendingTexels.back());
            pendingTexels.pop_back();
        } else {
            ++k;
        }
}

void Terrain::drawPendingTexels()
{
    IDirect3DDevice9* d = gDevice;
    if (pendingTexels.empty() || !d)
        return;
    if (!texelPoints)
        d->CreateVertexBuffer(texelPointCapacity * sizeof(TexelPoint), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                              texelPointFormat, D3DPOOL_DEFAULT, &texelPoints, nullptr);
    if (!texelStates) {
        // The states the texel points change, captured before and put back after.
        d->BeginStateBlock();
        const D3DRENDERSTATETYPE states[] = {D3DRS_ZENABLE,         D3DRS_ZWRITEENABLE,    D3DRS_LIGHTING,
                                             D3DRS_FOGENABLE,       D3DRS_ALPHABLENDENABLE, D3DRS_ALPHATESTENABLE,
                                             D3DRS_STENCILENABLE,   D3DRS_CULLMODE,        D3DRS_COLORWRITEENABLE,
                                             D3DRS_SCISSORTESTENABLE, D3DRS_CLIPPLANEENABLE, D3DRS_POINTSPRITEENABLE,
                                             D3DRS_POINTSIZE,       D3DRS_SRGBWRITEENABLE};
        for (D3DRENDERSTATETYPE state : states)
            d->SetRenderState(state, 0);
        for (D3DTEXTURESTAGESTATETYPE state : {D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1})
            d->SetTextureStageState(0, state, 0);
        d->SetTextureStageState(1, D3DTSS_COLOROP, 0);
        d->SetTexture(0, nullptr);
        d->SetFVF(0);
        d->SetStreamSource(0, nullptr, 0, 0);
        d->SetVertexShader(nullptr);
        d->SetPixelShader(nullptr);
        const D3DVIEWPORT9 viewport{};
        d->SetViewport(&viewport);
        d->EndStateBlock(&texelStates);
    }
    if (!texelPoints || !texelStates) {
        pendingTexels.clear();
        return;
    }
    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
    d->GetRenderTarget(0, &target);
    d->GetDepthStencilSurface(&depth);
    texelStates->Capture();
    d->SetDepthStencilSurface(nullptr);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetRenderState(D3DRS_SCISSORTESTENABLE, FALSE);
    d->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    d->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_POINTSIZE, std::bit_cast<DWORD>(1.0f));
    d->SetRenderState(D3DRS_SRGBWRITEENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTexture(0, nullptr);
    d->SetVertexShader(nullptr);
    d->SetPixelShader(nullptr);
    d->SetFVF(texelPointFormat);
    d->SetStreamSource(0, texelPoints, 0, sizeof(TexelPoint));
    const D3DVIEWPORT9 viewport{0, 0, tileTexels, tileTexels, 0.0f, 1.0f};
    for (const TexelBatch& batch : pendingTexels) {
        IDirect3DSurface9* surface = nullptr;
        if (FAILED(batch.target->GetSurfaceLevel(0, &surface)))
            continue;
        d->SetRenderTarget(0, surface);
        d->SetViewport(&viewport);
        for (size_t done = 0; done < batch.points.size();) {
            uint32_t count = uint32_t(batch.points.size() - done);
            count = count < texelPointCapacity ? count : texelPointCapacity;
            DWORD flags = D3DLOCK_NOOVERWRITE;
            if (texelPointStart + count > texelPointCapacity) {
                texelPointStart = 0;
                flags = D3DLOCK_DISCARD;
            }
            void* locked = nullptr;
            if (FAILED(texelPoints->Lock(texelPointStart * sizeof(TexelPoint), count * sizeof(TexelPoint), &locked,
                                         flags)))
                break;
            std::memcpy(locked, batch.points.data() + done, count * sizeof(TexelPoint));
            texelPoints->Unlock();
            d->DrawPrimitive(D3DPT_POINTLIST, texelPointStart, count);
            texelPointStart += count;
            done += count;
        }
        surface->Release();
    }
    pendingTexels.clear();
    d->SetRenderTarget(0, target);
    d->SetDepthStencilSurface(depth);
    texelStates->Apply();
    D3D::releaseInterface(target);
    D3D::releaseInterface(depth);
}

void Terrain::lightPatch(PatchData& data) const
{
    const LightRecord& sun = currentSun();
    const float ambient[3] = {material.Ambient.r * sun.ambient[0], material.Ambient.g * sun.ambient[1],
                              material.Ambient.b * sun.ambient[2]};
    const float diffuse[3] = {material.Diffuse.r * sun.diffuse[0], material.Diffuse.g * sun.diffuse[1],
                              material.Diffuse.b * sun.diffuse[2]};
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) {
            const float lit = data.normals[i][j].dot(sun.direction);
            const float d = lit > 0.0f ? lit : 0.0f;
            uint32_t texel = nibble(d) << 12;
            for (int c = 0; c < 3; ++c)
                texel |= nibble(ambient[c] + (diffuse[c] - ambient[c]) * d) << (8 - 4 * c);
            data.lightTexels[i][j] = uint16_t(texel);
        }
}

void Terrain::writeBlock(const Patch& patch, bool light, const uint16_t texels[16][16])
{
    Tile* tile = patch.detail->tile;
    const int32_t n = patchesPerSide;
    const int32_t blockColumn = patch.index / n % tilePatches, blockRow = (n - 1 - patch.index % n) % tilePatches;
    const int32_t bx = 16 * blockColumn, by = 16 * blockRow;
    auto has = [](const Tile* t) { return t && t->hasTextures(); };
    // The texel as the colour that the texture's own format stores back as it was.
    auto colourOf = [light](uint16_t t) {
        if (light)
            return uint32_t(t >> 12) * 17u << 24 | uint32_t(t >> 8 & 15) * 17u << 16 | uint32_t(t >> 4 & 15) * 17u << 8 |
                   uint32_t(t & 15) * 17u;
        const uint32_t r = t >> 11, g = t >> 5 & 63, b = t & 31;
        return 0xFF000000u | (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
    };
    auto batchOf = [&](const Tile* t) -> std::vector<TexelPoint>& {
        IDirect3DTexture9* target = light ? t->light : t->colour;
        for (TexelBatch& batch : pendingTexels)
            if (batch.target == target)
                return batch.points;
        pendingTexels.push_back({target, {}});
        return pendingTexels.back().points;
    };
    auto put = [&](std::vector<TexelPoint>& points, int32_t x, int32_t y, uint16_t texel) {
        points.push_back({float(x), float(y), 0.0f, 1.0f, colourOf(texel)});
    };
    // Column 0 and row 0 of a tile repeat the low-x and low-z neighbours'
    // last texels, so that filtering runs on across the tile border.
    const int32_t skipX = blockColumn == 0 && has(tile->lowerColumn) ? 1 : 0;
    const int32_t skipY = blockRow == 0 && has(tile->lowerRow) ? 1 : 0;
    std::vector<TexelPoint>& own = batchOf(tile);
    for (int32_t j = skipY; j < 16; ++j)
        for (int32_t i = skipX; i < 16; ++i)
            put(own, bx + i, by + j, texels[i][j]);
    if (blockColumn == tilePatches - 1 && has(tile->higherColumn)) {
        std::vector<TexelPoint>& next = batchOf(tile->higherColumn);
        for (int32_t j = 0; j < 16; ++j)
            put(next, 0, by + j, texels[15][j]);
    }
    if (blockRow == tilePatches - 1 && has(tile->higherRow)) {
        std::vector<TexelPoint>& next = batchOf(tile->higherRow);
        for (int32_t i = 0; i < 16; ++i)
            put(next, bx + i, 0, texels[i][15]);
    }
}
