// The sky's buffers, its culling and recolouring, and its draw.
#include "Landscape/AnimatedSky.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"

#include "Core/ConvexVolume.h"
#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <new>

namespace {

// The sky's colour terms as n / 255: day sky, sunset glow (and the sun's
// tint), the blue side of the sunset, horizon haze, the halo around the sun.
constexpr uint8_t palette[5][3] = {{33, 103, 171}, {209, 121, 38}, {39, 96, 171}, {121, 121, 141}, {255, 255, 0}};

// A range of a vertex or index buffer locked for writing while it lives;
// data is null when the lock failed.
template <class Buffer, class T>
struct Locked
{
    Locked(Buffer* b, uint32_t first, uint32_t count) : buffer(b)
    {
        void* bits = nullptr;
        if (SUCCEEDED(buffer->Lock(first * sizeof(T), count * sizeof(T), &bits, 0)))
            data = static_cast<T*>(bits);
    }
    ~Locked()
    {
        if (data)
            buffer->Unlock();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    Buffer* buffer;
    T* data = nullptr;
};

using LockedVertices = Locked<IDirect3DVertexBuffer9, AnimatedSky::Vertex>;
using LockedIndices = Locked<IDirect3DIndexBuffer9, uint16_t>;

}

AnimatedSky::AnimatedSky(const LightRecord& sunRecord) : sun(&sunRecord)
{
    for (int i = 0; i < 5; ++i)
        for (int c = 0; c < 3; ++c)
            colours[i][c] = float(palette[i][c]) / 255.0f;
}

bool AnimatedSky::build(Interface* sink, float centreY, float aspect, float domeRadius)
{
    CRASH_TRACE();
    release();
    vertexCursor = indexCursor = totalVertices = totalIndices = 0;
    {
        DomeMesh dome(String(L"Dome"));
        makeDome(dome, {0.0f, centreY, 0.0f}, {domeRadius, domeRadius / aspect, domeRadius}, 0.58f);
        radius = domeRadius;
        listener = sink;
        root = buildPatches(dome, nodeCount);
    }
    countBuffers(root);
    IDirect3DDevice9* d = gDevice;
    // Indices are 16 bits with the patch's base added in.
    if (!root || !d || totalVertices == 0 || totalVertices > 0x10000u ||
        FAILED(d->CreateVertexBuffer(totalVertices * sizeof(Vertex), D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED,
                                     &vertexBuffer, nullptr)) ||
        FAILED(d->CreateIndexBuffer(totalIndices * sizeof(uint16_t), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                    D3DPOOL_MANAGED, &indexBuffer, nullptr))) {
        release();
        return false;
    }
    patches.reset(new (std::nothrow) Patch[nodeCount]);
    visible.reset(new (std::nothrow) Patch*[nodeCount]);
    if (!patches || !visible || !fillBuffers(root)) {
        release();
        return false;
    }
    lastSunDirection = sun->direction;
    return true;
}

void AnimatedSky::countBuffers(const PatchNode* node)
{
    for (; node; node = node->children[1]) {
        if (node->mesh) {
            totalVertices += uint32_t(node->mesh->countedVertices());
            totalIndices += uint32_t(node->mesh->countedIndices());
        }
        countBuffers(node->children[0]);
    }
}

bool AnimatedSky::fillBuffers(const PatchNode* node)
{
    if (!node)
        return true;
    if (node->mesh)
        return fillPatch(*node);
    return fillBuffers(node->children[0]) && fillBuffers(node->children[1]);
}

bool AnimatedSky::fillPatch(const PatchNode& node)
{
    DomeMesh& mesh = *node.mesh;
    Patch& patch = patches[node.number];
    const uint32_t n = uint32_t(mesh.countedVertices());
    const uint32_t m = uint32_t(mesh.countedIndices());
    patch = Patch{};
    patch.mesh = &mesh;
    patch.directions.reset(new (std::nothrow) vec3d[n ? n : 1]);
    if (!patch.directions)
        return false;
    for (uint32_t k = 0; k < n; ++k) {
        const vec3d& p = *mesh.getVertexData(int32_t(k))->position;
        const float length = fastSqrt(p.lengthSq());
        patch.directions[k] = length > 0.0f ? p / length : vec3d{};
    }
    patch.dirty = 1;
    patch.vertexBase = vertexCursor;
    patch.vertexCount = n;
    patch.indexBase = indexCursor;
    patch.indexCount = m;

    if (n > 0) {
        LockedVertices vertices(vertexBuffer, vertexCursor, n);
        if (!vertices.data)
            return false;
        mesh.packVertices(vertices.data);
    }
    if (m > 0) {
        LockedIndices indices(indexBuffer, indexCursor, m);
        if (!indices.data)
            return false;
        const uint16_t* source = mesh.getIndices();
        for (uint32_t k = 0; k < m; ++k)
            indices.data[k] = uint16_t(source[k] + vertexCursor);
    }
    vertexCursor += n;
    indexCursor += m;
    return true;
}

void AnimatedSky::release()
{
    D3D::releaseInterface(vertexBuffer);
    D3D::releaseInterface(indexBuffer);
    delete root;
    root = nullptr;
    patches.reset();
    visible.reset();
    nodeCount = 0;
    visibleCount = 0;
    listener = nullptr;
}

void AnimatedSky::cullPatches(const ConvexVolume& volume)
{
    visibleCount = 0;
    if (patches && visible)
        cullNode(root, volume);
}

void AnimatedSky::cullNode(PatchNode* node, const ConvexVolume& volume)
{
    if (!node || volume.classifyBox(node->box) == ConvexVolume::outside)
        return;
    if (!node->mesh) {
        cullNode(node->children[0], volume);
        cullNode(node->children[1], volume);
        return;
    }
    Patch& patch = patches[node->number];
    // Not recoloured for this frame: it was out of view, so all of it is stale.
    if (patch.stamp != frameStamp && !patch.recolouredThisFrame)
        patch.dirty = 1;
    visible[visibleCount++] = &patch;
}

void AnimatedSky::recolour(Vertex* vertices)
{
    for (int32_t i = 0; i < visibleCount; ++i)
        if (!visible[i]->recolouredThisFrame)
            recolourPatch(*visible[i], vertices);
}

bool AnimatedSky::recolourPending() const
{
    for (int32_t i = 0; i < visibleCount; ++i) {
        const Patch& patch = *visible[i];
        if (!patch.recolouredThisFrame && (patch.dirty || uint32_t(float(patch.vertexCount) * updateRate) > 0))
            return true;
    }
    return false;
}

void AnimatedSky::recolourPatch(Patch& patch, Vertex* vertices)
{
    const uint32_t start0 = patch.cursor;
    uint32_t start = start0;
    uint32_t end = start0 + uint32_t(float(patch.vertexCount) * updateRate);
    patch.cursor = end;
    end = std::min(end, patch.vertexCount);
    if (patch.dirty) {
        start = 0;
        end = patch.vertexCount;
        patch.dirty = 0;
    }
    for (uint32_t k = start; k < end && vertices; ++k) {
        colourDirection(patch.directions[k]);
        vertices[patch.vertexBase + k].colour = vertexColour();
    }
    if (end == patch.vertexCount)
        patch.cursor = 0;
    patch.recolouredThisFrame = 1;
    patch.stamp = frameStamp + 1;
}

void AnimatedSky::render()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!root || !d || !gCamera)
        return;
    cullPatches(gCamera->directionVolume);
    // A failed lock keeps the colours of the last frame.
    if (!recolourPending())
        recolour(nullptr);
    else if (LockedVertices vertices(vertexBuffer, 0, totalVertices); vertices.data)
        recolour(vertices.data);

    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    d->SetFVF(fvf);
    d->SetIndices(indexBuffer);
    d->SetStreamSource(0, vertexBuffer, 0, sizeof(Vertex));
    uint32_t& primitives = gDirectGraphics.record.primitiveCount;
    for (int32_t i = 0; i < visibleCount; ++i) {
        const Patch& patch = *visible[i];
        if (patch.indexCount < 3)
            continue;
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, patch.vertexBase, patch.vertexCount, patch.indexBase,
                                patch.indexCount / 3);
        primitives += patch.indexCount / 3;
    }
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
}
