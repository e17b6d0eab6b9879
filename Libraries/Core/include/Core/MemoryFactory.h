#pragma once

#include "Core/ArrayHeap.h"

#include <cstdint>
#include <new>
#include <utility>

// A pool that creates its objects N at a time in one block. Objects live from
// the creation of their block until the block is freed: create() hands out an
// object that is not in use (reusing released ones before a new block is
// made), release() takes it back without destroying it, so a holder resets
// what it needs. Each block counts its objects in use; freeIdleBlocks()
// destroys the blocks that have none, clear() destroys every block.
// Not thread-safe: the holder guards a factory shared between threads.
template <class T, int32_t N>
class MemoryFactory
{
    static_assert(N > 0, "MemoryFactory needs at least one object per block");

public:
    // One block: N objects, their count and which of them are handed out.
    struct Data
    {
        T objects[N];
        int32_t count = N;
        int32_t inUseCount = 0;
        bool inUse[N] = {};
    };

    MemoryFactory() = default;
    MemoryFactory(const MemoryFactory&) = delete;
    MemoryFactory& operator=(const MemoryFactory&) = delete;
    ~MemoryFactory() { clear(); }

    // Returns an object not in use, or null when a new block cannot be made.
    T* create()
    {
        for (int32_t b = 0; b < blocks_.count(); ++b) {
            Data* block = *blocks_.at(b);
            for (int32_t i = 0; i < N; ++i) {
                if (!block->inUse[i]) {
                    block->inUse[i] = true;
                    ++block->inUseCount;
                    return &block->objects[i];
                }
            }
        }
        Data* block = new (std::nothrow) Data();
        if (!block)
            return nullptr;
        if (!blocks_.resize(blocks_.count() + 1)) {
            delete block;
            return nullptr;
        }
        *blocks_.at(blocks_.count() - 1) = block;
        block->inUse[0] = true;
        block->inUseCount = 1;
        return &block->objects[0];
    }

    // Takes object back for reuse. Returns false (and does nothing) when the
    // object does not come from this factory or is not in use.
    bool release(T* object)
    {
        for (int32_t b = 0; b < blocks_.count(); ++b) {
            Data* block = *blocks_.at(b);
            for (int32_t i = 0; i < N; ++i) {
                if (&block->objects[i] == object) {
                    if (!block->inUse[i])
                        return false;
                    block->inUse[i] = false;
                    --block->inUseCount;
                    return true;
                }
            }
        }
        return false;
    }

    // Destroys every object of every block and frees the blocks. The blocks
    // leave the factory before their objects are destroyed, so an object's
    // destructor may use the factory.
    void clear()
    {
        ArrayHeap<Data*> blocks;
        std::swap(blocks, blocks_);
        for (int32_t b = 0; b < blocks.count(); ++b)
            delete *blocks.at(b);
    }

    // Destroys the blocks none of whose objects is in use; the others keep
    // their order. As with clear(), the blocks leave the factory first.
    // Returns the number of blocks freed (0 when memory for the smaller
    // block list cannot be had).
    int32_t freeIdleBlocks()
    {
        int32_t idleCount = 0;
        for (int32_t b = 0; b < blocks_.count(); ++b)
            idleCount += (*blocks_.at(b))->inUseCount < 1 ? 1 : 0;
        if (idleCount == 0)
            return 0;
        ArrayHeap<Data*> idle(idleCount);
        ArrayHeap<Data*> kept(blocks_.count() - idleCount);
        if (idle.count() != idleCount || kept.count() != blocks_.count() - idleCount)
            return 0;
        int32_t i = 0, k = 0;
        for (int32_t b = 0; b < blocks_.count(); ++b) {
            Data* block = *blocks_.at(b);
            if (block->inUseCount < 1)
                *idle.at(i++) = block;
            else
                *kept.at(k++) = block;
        }
        std::swap(blocks_, kept);
        for (i = 0; i < idleCount; ++i)
            delete *idle.at(i);
        return idleCount;
    }

    int32_t blockCount() { return blocks_.count(); }
    Data* block(int32_t index) { return *blocks_.at(index); }

private:
    ArrayHeap<Data*> blocks_;
};
