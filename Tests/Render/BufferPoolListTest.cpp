#include "TestDevice.h"

#include "Render/BufferPool.h"

#include <gtest/gtest.h>

namespace {

class BufferPoolList : public TestDevice::DeviceSuite
{
};

D3DVERTEXBUFFER_DESC describe(const BufferRange* range)
{
    D3DVERTEXBUFFER_DESC desc{};
    if (range && range->pool && range->pool->vertexBuffer)
        range->pool->vertexBuffer->GetDesc(&desc);
    return desc;
}

TEST_F(BufferPoolList, PoolsTakeTheirListsLayout)
{
    // Terrain patches: 16 of 33 x 33 vertices of 20 bytes fill one pool.
    BufferPool::List list(BufferPool::Layout{20, D3DFVF_XYZ | D3DFVF_TEX1, 17424});
    BufferRange* first = nullptr;
    for (int i = 0; i < 16; ++i) {
        BufferRange* range = BufferPool::allocRange(list, 1089);
        ASSERT_NE(range, nullptr);
        EXPECT_EQ(range->start, uint32_t(i) * 1089);
        first = first ? first : range;
    }
    EXPECT_EQ(list.pools.count(), 1);
    const D3DVERTEXBUFFER_DESC desc = describe(first);
    EXPECT_EQ(desc.Size, 17424u * 20u);
    EXPECT_EQ(desc.FVF, DWORD(D3DFVF_XYZ | D3DFVF_TEX1));
    EXPECT_EQ(first->pool->stride, 20u);
    BufferRange* next = BufferPool::allocRange(list, 1089);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(list.pools.count(), 2);
    EXPECT_EQ(next->start, 0u);

    // Mesh vertices asked of the same pools get a pool of their own layout.
    BufferRange* mesh = BufferPool::allocVertexRange(list.pools, 10);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(list.pools.count(), 3);
    EXPECT_EQ(describe(mesh).Size, 4096u * 32u);
    EXPECT_EQ(mesh->pool->stride, 32u);
    BufferPool::freeRange(*first->pool, first);
    EXPECT_EQ(BufferPool::allocRange(list, 1089)->start, 0u);
    // Clearing the list lets go of its buffers.
    IDirect3DVertexBuffer9* buffer = mesh->pool->vertexBuffer;
    buffer->AddRef();
    list.clear();
    EXPECT_EQ(list.pools.count(), 0);
    EXPECT_EQ(buffer->Release(), 0u);
}

TEST_F(BufferPoolList, EveryFrameCountsItsOwnTriangles)
{
    gDirectGraphics.record.primitiveCount = 123;
    chain().beginFrame();
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, 0u);
}

}
