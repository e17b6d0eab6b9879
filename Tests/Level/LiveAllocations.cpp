#include "LiveAllocations.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int64_t> liveBlocks{0};
std::atomic<int64_t> liveBytes{0};

}

// The other forms (arrays, nothrow, sized) forward to these two. The heap's
// own size of a block counts, so that a block given back by the wrong form
// still balances.
void* operator new(std::size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    liveBytes.fetch_add(int64_t(_msize(block)), std::memory_order_relaxed);
    return block;
}

void operator delete(void* block) noexcept
{
    if (!block)
        return;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    liveBytes.fetch_sub(int64_t(_msize(block)), std::memory_order_relaxed);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    operator delete(block);
}

namespace LiveAllocations {

int64_t blocks() { return liveBlocks.load(); }
int64_t bytes() { return liveBytes.load(); }

}
