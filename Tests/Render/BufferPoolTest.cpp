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

// The pool's ranges in order, checking the links on the way.
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
    ASSERT_TRUE(BufferPool::initRanges(pool, 1000));
    BufferRange* a = BufferPool::allocRange(pool, 100);
    BufferRange* b = BufferPool::allocRange(pool, 200);
    BufferRange* c = BufferPool::allocRange(pool, 700); // exact fit of the rest
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 100, 1}, {100, 200, 1}, {300, 700, 1}}));
    EXPECT_EQ(BufferPool::allocRange(pool, 1), nullptr);
    EXPECT_EQ(BufferPool::allocRange(pool, 0), nullptr);

    BufferPool::freeRange(pool, a);
    BufferPool::freeRange(pool, c);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 100, 0}, {100, 200, 1}, {300, 700, 0}}));
    BufferRange* d = BufferPool::allocRange(pool, 60); // the first free range that fits
    ASSERT_TRUE(d);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 60, 1}, {60, 40, 0}, {100, 200, 1}, {300, 700, 0}}));
    // A free range between two free ones joins both.
    BufferPool::freeRange(pool, b);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 60, 1}, {60, 940, 0}}));
    BufferPool::freeRange(pool, d);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 1000, 0}}));
    // A range freed after a free one, before a used one, joins the first.
    BufferRange* e = BufferPool::allocRange(pool, 10);
    BufferRange* f = BufferPool::allocRange(pool, 20);
    BufferRange* g = BufferPool::allocRange(pool, 30);
    ASSERT_TRUE(e && f && g);
    BufferPool::freeRange(pool, e);
    BufferPool::freeRange(pool, f);
    EXPECT_EQ(spans(pool), (std::vector<Span>{{0, 30, 0}, {30, 30, 1}, {60, 940, 0}}));
    BufferPool::destroy(pool);
    EXPECT_EQ(pool.firstRange, nullptr);
    EXPECT_EQ(pool.reserved, 0u);
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
