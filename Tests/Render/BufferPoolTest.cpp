#include "Render/BufferPool.h"
#include "Render/D3DDevice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Span
{
    uint32_t start, count, used;
    bool operator==(const Span&) const = default;
};

std::vector<Span> spans(const BufferPool& pool)
{
    std::vector<Span> out;
    const BufferRange* previous = nullptr;
    for (const BufferRange* r = pool.firstRange; r; r = r->next) {
        EXPECT_EQ(r->previous, previous);
        EXPECT_EQ(r->pool, &pool);
        out.push_back({r->start, r->count, r->used});
        previous = r;
    }
    return out;
}

TEST(BufferPool, FirstFitSplitsAndFreeMerges)
{
    BufferPool pool;
    ASSERT_TRUE(BufferPool::initRanges(pool, 4096));
    BufferRange* a = BufferPool::allocRange(pool, 100);
    BufferRange* b = BufferPool::allocRange(pool, 200);
    BufferRange* c = BufferPool::allocRange(pool, 100);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 100, 1}, {100, 200, 1}, {300, 100, 1}, {400, 3696, 0}}));

    BufferPool::freeRange(pool, b);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 100, 1}, {100, 200, 0}, {300, 100, 1}, {400, 3696, 0}}));
    BufferPool::freeRange(pool, a);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 300, 0}, {300, 100, 1}, {400, 3696, 0}}));

    // A free range between two free ones joins both.
    BufferPool::freeRange(pool, c);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 4096, 0}}));
}

TEST(BufferPool, ExactFitAndNoRoom)
{
    BufferPool pool;
    ASSERT_TRUE(BufferPool::initRanges(pool, 1000));
    BufferRange* a = BufferPool::allocRange(pool, 600);
    BufferRange* b = BufferPool::allocRange(pool, 400); // exact fit of the rest
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->start, 600u);
    EXPECT_EQ(BufferPool::allocRange(pool, 1), nullptr);
    EXPECT_EQ(BufferPool::allocRange(pool, 0), nullptr);

    // Freeing the first range, then asking for less reuses its start.
    BufferPool::freeRange(pool, a);
    BufferRange* c = BufferPool::allocRange(pool, 250);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->start, 0u);
    EXPECT_EQ(pool.firstRange, c);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 250, 1}, {250, 350, 0}, {600, 400, 1}}));
    // The last range freed next to a free one is absorbed by it.
    BufferPool::freeRange(pool, b);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 250, 1}, {250, 750, 0}}));
}

TEST(BufferPool, NoPoolIsKeptWhenItsBufferCannotBeMade)
{
    ASSERT_EQ(gDevice, nullptr);
    SCList<BufferPool> pools;
    EXPECT_EQ(BufferPool::allocVertexRange(pools, 100), nullptr);
    EXPECT_EQ(BufferPool::allocIndexRange(pools, 100), nullptr);
    EXPECT_EQ(pools.count(), 0);
}

}
