#pragma once
// The streaming vertex ring of the effect passes and the water's waves: a
// dynamic write-only vertex buffer of RingVertices vertices V (default
// pool; 4096 unless the user says otherwise), filled one batch of
// BatchVertices (1024) at a time and drawn over a managed index buffer of
// one index piece repeated. A batch that starts at vertex 0 is locked with
// discard, any other with no-overwrite, so the card keeps drawing earlier
// batches meanwhile. V names its flexible vertex format in V::format.
// Main thread only.

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include "Core/ArrayStack.h"
#include "Core/CrashTrace.h"

#include <d3d9.h>

#include <cstdint>

template <class V, uint32_t BatchVertices = 1024, uint32_t RingVertices = 4096>
class VertexRing
{
public:
    static constexpr uint32_t batchVertices = BatchVertices;
    static constexpr uint32_t ringVertices = RingVertices;

    VertexRing() = default;
    ~VertexRing() { release(); }
    VertexRing(const VertexRing&) = delete;
    VertexRing& operator=(const VertexRing&) = delete;

    // The managed index buffer (it survives a reset): copies of the N
    // indices of piece, each offset past the one before. Once; false when it
    // cannot be made.
    template <int N>
    bool createIndices(const uint16_t (&piece)[N], int copies)
    {
        ArrayStack<uint16_t, N> list;
        for (int i = 0; i < N; ++i)
            *list.at(i) = piece[i];
        return createIndices(list, copies);
    }
    bool createIndices(Array<uint16_t>& piece, int copies)
    {
        CRASH_TRACE();
        if (!indexBuffer)
            indexBuffer = createRepeatedIndexBuffer(piece, copies);
        return indexBuffer != nullptr;
    }

    // The vertex buffer when missing, once the indices exist (device
    // creation and after a reset); the next batch starts the ring. False
    // when there is no buffer afterwards.
    bool createVertices()
    {
        CRASH_TRACE();
        if (!vertexBuffer && indexBuffer && gDevice &&
            FAILED(gDevice->CreateVertexBuffer(ringVertices * sizeof(V), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                               V::format, D3DPOOL_DEFAULT, &vertexBuffer, nullptr)))
            vertexBuffer = nullptr;
        start = 0;
        return vertexBuffer != nullptr;
    }

    // The vertex buffer (before a reset).
    void releaseVertices()
    {
        endBatch();
        D3D::releaseInterface(vertexBuffer);
    }

    // Both buffers (device release).
    void release()
    {
        releaseVertices();
        D3D::releaseInterface(indexBuffer);
    }

    // Locks the next batch for writing; nothing is written and false comes
    // back without buffers or when the lock fails.
    bool beginBatch()
    {
        vertices = 0;
        triangles = 0;
        if (!vertexBuffer || locked_)
            return false;
        lastLockFlags = start == 0 ? D3DLOCK_DISCARD : D3DLOCK_NOOVERWRITE;
        void* bits = nullptr;
        if (FAILED(vertexBuffer->Lock(start * sizeof(V), batchVertices * sizeof(V), &bits, lastLockFlags)))
            return false;
        locked_ = static_cast<V*>(bits);
        return locked_ != nullptr;
    }

    // Unlocks; returns the triangles written (0 when no batch was open).
    uint32_t endBatch()
    {
        if (!locked_)
            return 0;
        vertexBuffer->Unlock();
        locked_ = nullptr;
        return triangles;
    }

    // Draws the batch just ended (its first triangleCount triangles, at the
    // batch start), counts them for the frame and moves the batch start on
    // by a batch, back to 0 at the ring's end. Stream source and indices are
    // set here; the vertex format and states are the caller's.
    void drawBatch(uint32_t triangleCount)
    {
        if (!gDevice || !vertexBuffer)
            return;
        gDevice->SetStreamSource(0, vertexBuffer, start * sizeof(V), sizeof(V));
        gDevice->SetIndices(indexBuffer);
        gDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, batchVertices, 0, triangleCount);
        gDirectGraphics.record.primitiveCount += triangleCount;
        advance();
    }

    // Moves the batch start on by a batch, back to 0 at the ring's end.
    void advance()
    {
        start += batchVertices;
        if (start >= ringVertices)
            start = 0;
    }

    // Room for vertexCount more vertices in the open batch: returns where to
    // write them and counts them with their triangles; null, counting
    // nothing, when they do not fit (or no batch is open).
    V* reserve(uint32_t vertexCount, uint32_t triangleCount)
    {
        if (!locked_ || vertexCount > batchVertices - vertices)
            return nullptr;
        V* at = locked_ + vertices;
        vertices += vertexCount;
        triangles += triangleCount;
        return at;
    }

    // Vertices still free in the open batch (0 when none is open).
    uint32_t room() const { return locked_ ? batchVertices - vertices : 0; }
    bool open() const { return locked_ != nullptr; }

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t start = 0;     // first vertex of the current batch
    uint32_t vertices = 0;  // written into the open batch
    uint32_t triangles = 0; // likewise
    // The flags of the last lock (D3DLOCK_DISCARD or D3DLOCK_NOOVERWRITE).
    DWORD lastLockFlags = 0;

private:
    V* locked_ = nullptr;
};
