#pragma once

#include "Core/ArrayHeap.h"

#include <cstdint>
#include <new>

// A pool that creates its objects N at a time in one block. Objects live from
// the creation of their block until clear(): create() hands out an object that
// is not in use (reusing released ones before a new block is made), release()
// takes it back without destroying it, so a holder resets what it needs.
// clear() destroys every object of every block and frees the blocks.
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
                    return true;
                }
            }
        }
        return false;
    }

    // Destroys every object of every block and frees the blocks.
    void clear()
    {
        for (int32_t b = 0; b < blocks_.count(); ++b)
            delete *blocks_.at(b);
        blocks_.deleteArray();
    }

private:
    ArrayHeap<Data*> blocks_;
};
