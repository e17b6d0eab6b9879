#include "Render/BufferPool.h"

#include "Render/D3DDevice.h"

#include "Core/CrashTrace.h"

#include <cstring>
#include <new>

namespace {

BufferPool* createPool(const BufferPool::Layout& layout, uint32_t count, bool dynamic)
{
    CRASH_TRACE();
    if (!gDevice)
        return nullptr;
    BufferPool* pool = new (std::nothrow) BufferPool;
    if (!pool)
        return nullptr;
    HRESULT hr;
    const DWORD usage = dynamic ? D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC : D3DUSAGE_WRITEONLY;
    const D3DPOOL memory = dynamic ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    if (layout.stride > 0)
        hr = gDevice->CreateVertexBuffer(count * layout.stride, usage, layout.format, memory, &pool->vertexBuffer,
                                         nullptr);
    else
        hr = gDevice->CreateIndexBuffer(count * 2, usage, D3DFMT_INDEX16, memory, &pool->indexBuffer, nullptr);
    pool->stride = layout.stride;
    if (FAILED(hr) || !BufferPool::initRanges(*pool, count)) {
        delete pool;
        return nullptr;
    }
    return pool;
}

BufferRange* allocFromPools(SCList<BufferPool>& pools, uint32_t count, const BufferPool::Layout& layout,
                            bool dynamic = false)
{
    if (count == 0)
        return nullptr;
    for (auto* node = pools.head(); node; node = node->next) {
        BufferPool* pool = node->item;
        // A pool of another layout never lends its buffer.
        const bool sameLayout = pool && pool->stride == layout.stride &&
                                (layout.stride > 0 ? pool->vertexBuffer != nullptr : pool->indexBuffer != nullptr);
        if (!sameLayout)
            continue;
        if (BufferRange* range = BufferPool::allocRange(*pool, count))
            return range;
    }
    // Larger requests would otherwise make a new, useless pool every call.
    const uint32_t size = count > layout.size ? count : layout.size;
    if (size > (1u << 24))
        return nullptr;
    BufferPool* pool = createPool(layout, size, dynamic);
    if (!pool)
        return nullptr;
    if (!pools.append(pool)) {
        delete pool;
        return nullptr;
    }
    return BufferPool::allocRange(*pool, count);
}

// Fills a new buffer with bytes; a buffer that cannot be filled is no use to
// the caller and is released.
template <class Buffer>
Buffer* fillBuffer(Buffer* buffer, const void* bytes, size_t size)
{
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0))) {
        buffer->Release();
        return nullptr;
    }
    std::memcpy(data, bytes, size);
    buffer->Unlock();
    return buffer;
}

}

BufferRange* BufferPool::allocRange(List& list, uint32_t count)
{
    return allocFromPools(list.pools, count, list.layout, list.dynamic);
}

BufferRange* BufferPool::allocVertexRange(SCList<BufferPool>& pools, uint32_t count)
{
    return allocFromPools(pools, count, meshVertices);
}

BufferRange* BufferPool::allocIndexRange(SCList<BufferPool>& pools, uint32_t count)
{
    return allocFromPools(pools, count, indices);
}

BufferRange* BufferPool::allocRange(BufferPool& pool, uint32_t count)
{
    if (count == 0)
        return nullptr;
    for (BufferRange* range = pool.firstRange; range; range = range->next) {
        if (range->used || range->count < count)
            continue;
        if (range->count == count) {
            range->used = 1;
            return range;
        }
        BufferRange* taken = new (std::nothrow) BufferRange;
        if (!taken)
            return nullptr;
        taken->start = range->start;
        taken->count = count;
        taken->used = 1;
        taken->previous = range->previous;
        taken->next = range;
        taken->pool = &pool;
        if (range->previous)
            range->previous->next = taken;
        else
            pool.firstRange = taken;
        range->previous = taken;
        range->start += count;
        range->count -= count;
        return taken;
    }
    return nullptr;
}

void BufferPool::freeRange(BufferPool& pool, BufferRange* range)
{
    if (!range)
        return;
    BufferRange* previous = range->previous;
    BufferRange* next = range->next;
    if (previous && !previous->used) {
        previous->count += range->count;
        previous->next = next;
        if (next)
            next->previous = previous;
        delete range;
        if (next && !next->used) {
            previous->count += next->count;
            previous->next = next->next;
            if (next->next)
                next->next->previous = previous;
            delete next;
        }
        return;
    }
    if (next && !next->used) {
        next->start = range->start;
        next->count += range->count;
        next->previous = previous;
        if (previous)
            previous->next = next;
        else
            pool.firstRange = next;
        delete range;
        return;
    }
    range->used = 0;
}

bool BufferPool::initRanges(BufferPool& pool, uint32_t count)
{
    BufferRange* range = new (std::nothrow) BufferRange;
    if (!range)
        return false;
    range->count = count;
    range->pool = &pool;
    pool.firstRange = range;
    pool.reserved = count;
    return true;
}

void BufferPool::destroy(BufferPool& pool)
{
    D3D::releaseInterface(pool.vertexBuffer);
    D3D::releaseInterface(pool.indexBuffer);
    BufferRange* range = pool.firstRange;
    while (range) {
        BufferRange* next = range->next;
        delete range;
        range = next;
    }
    pool.firstRange = nullptr;
    pool.reserved = 0;
}

IDirect3DIndexBuffer9* createIndexBufferFrom(const uint16_t* indices, uint32_t count)
{
    CRASH_TRACE();
    if (!gDevice || !indices || count == 0 || count > (1u << 28))
        return nullptr;
    IDirect3DIndexBuffer9* buffer = nullptr;
    if (FAILED(gDevice->CreateIndexBuffer(count * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &buffer,
                                          nullptr)))
        return nullptr;
    return fillBuffer(buffer, indices, size_t(count) * 2);
}

IDirect3DVertexBuffer9* createVertexBufferFrom(const void* vertices, uint32_t count, uint32_t stride, uint32_t fvf)
{
    CRASH_TRACE();
    const uint64_t bytes = uint64_t(count) * stride;
    if (!gDevice || !vertices || bytes == 0 || bytes > (1u << 30))
        return nullptr;
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(gDevice->CreateVertexBuffer(UINT(bytes), D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED, &buffer, nullptr)))
        return nullptr;
    return fillBuffer(buffer, vertices, size_t(bytes));
}
