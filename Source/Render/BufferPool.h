#pragma once

#include "Core/SCList.h"

#include <d3d9.h>

#include <cstdint>

struct BufferPool;

// One stretch of a pool's buffer, in elements (vertices or indices).
struct BufferRange
{
    uint32_t start = 0;
    uint32_t count = 0;
    uint32_t used = 0;
    BufferRange* previous = nullptr;
    BufferRange* next = nullptr;
    BufferPool* pool = nullptr;
};

// A shared managed buffer carved into ranges, so that many small meshes (road
// pieces, terrain patches) draw from few buffers. The ranges of a pool lie in
// buffer order and always cover the whole buffer without gaps.
//
// A pool holds either a vertex buffer or a 16-bit index buffer. Pools come in
// lists of one layout: the vertex size and format, and the elements a new pool
// holds (mesh vertices of 32 bytes unless the list says otherwise). Managed
// buffers survive a device reset; pools are never released when they become
// empty, only by destroy(). Main thread only.
struct BufferPool
{
    // What the pools of one list hold: vertices of stride bytes in format,
    // or, with stride 0, 16-bit indices; a new pool holds size of them.
    struct Layout
    {
        uint32_t stride = 0;
        DWORD format = 0;
        uint32_t size = 0;
    };

    static constexpr uint32_t vertexStride = 32;
    static constexpr DWORD vertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
    static constexpr uint32_t verticesPerPool = 4096;
    static constexpr uint32_t indicesPerPool = 8192;
    static constexpr Layout meshVertices{vertexStride, vertexFormat, verticesPerPool};
    static constexpr Layout indices{0, 0, indicesPerPool};

    // A pool list with its layout; its pools are destroyed with it.
    struct List
    {
        explicit List(const Layout& poolLayout) : layout(poolLayout) {}
        // Dynamic pools live in the device's default pool: a device reset
        // needs them cleared first, and their ranges are locked with
        // no-overwrite by users that never rewrite a range still drawn from.
        List(const Layout& poolLayout, bool dynamicBuffers) : layout(poolLayout), dynamic(dynamicBuffers) {}
        List(const List&) = delete;
        List& operator=(const List&) = delete;
        ~List() { clear(); }
        // Destroys every pool.
        void clear() { pools.deleteAll(); }

        SCList<BufferPool> pools;
        const Layout layout;
        const bool dynamic = false;
    };

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t reserved = 0; // elements the buffer holds
    uint32_t stride = 0;   // bytes per vertex of a vertex pool
    BufferRange* firstRange = nullptr;

    BufferPool() = default;
    BufferPool(const BufferPool&) = delete;
    BufferPool& operator=(const BufferPool&) = delete;
    ~BufferPool() { destroy(*this); }

    // A range of count elements from the first pool of the list's layout with
    // room; a new pool when none has. A request larger than a whole pool gets
    // a pool of its own size. Null when count is 0 or the buffer cannot be
    // created (no pool is kept then, so no range ever points into a missing
    // buffer).
    static BufferRange* allocRange(List& list, uint32_t count);
    // The same for lists of mesh vertices and of indices.
    static BufferRange* allocVertexRange(SCList<BufferPool>& pools, uint32_t count);
    static BufferRange* allocIndexRange(SCList<BufferPool>& pools, uint32_t count);

    // First fit: the first free range of at least count elements; a larger
    // one is split, the used part first. Null when nothing fits.
    static BufferRange* allocRange(BufferPool& pool, uint32_t count);
    // Marks range free and merges it with free neighbours.
    static void freeRange(BufferPool& pool, BufferRange* range);
    // Makes the pool one free range of count elements (the buffer is the
    // caller's). False when the node cannot be allocated.
    static bool initRanges(BufferPool& pool, uint32_t count);
    // Releases the buffer and frees every range.
    static void destroy(BufferPool& pool);
};

// Managed, write-only buffers filled from memory; null on failure or without
// a device.
IDirect3DIndexBuffer9* createIndexBufferFrom(const uint16_t* indices, uint32_t count);
IDirect3DVertexBuffer9* createVertexBufferFrom(const void* vertices, uint32_t count, uint32_t stride, uint32_t fvf);
