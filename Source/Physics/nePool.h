#pragma once

#include "Physics/neAllocator.h"

#include <cstdint>
#include <new>
#include <type_traits>

// An intrusive doubly linked list {head, tail, count} over records that carry
// their own links (by default the members next and prev). A record is in at
// most one list per pair of links; the list never checks membership.
template <class T, T* T::*Next = &T::next, T* T::*Prev = &T::prev>
struct neList
{
    T* head = nullptr;
    T* tail = nullptr;
    int32_t count = 0;

    void pushBack(T* r)
    {
        r->*Prev = tail;
        r->*Next = nullptr;
        if (tail)
            tail->*Next = r;
        else
            head = r;
        tail = r;
        ++count;
    }

    void pushFront(T* r)
    {
        r->*Next = head;
        r->*Prev = nullptr;
        if (head)
            head->*Prev = r;
        else
            tail = r;
        head = r;
        ++count;
    }

    void insertBefore(T* at, T* r)
    {
        r->*Next = at;
        r->*Prev = at->*Prev;
        if (at->*Prev)
            (at->*Prev)->*Next = r;
        else
            head = r;
        at->*Prev = r;
        ++count;
    }

    void insertAfter(T* at, T* r)
    {
        r->*Prev = at;
        r->*Next = at->*Next;
        if (at->*Next)
            (at->*Next)->*Prev = r;
        else
            tail = r;
        at->*Next = r;
        ++count;
    }

    void remove(T* r)
    {
        if (r->*Prev)
            (r->*Prev)->*Next = r->*Next;
        else
            head = r->*Next;
        if (r->*Next)
            (r->*Next)->*Prev = r->*Prev;
        else
            tail = r->*Prev;
        r->*Next = r->*Prev = nullptr;
        --count;
    }

    void clear()
    {
        head = tail = nullptr;
        count = 0;
    }
};

// A fixed pool of records in one block, built once: a free list in index
// order, an in-use mark per record (its member inUse) and the count of records
// handed out. Pools whose records are not kept in a list of their owner's
// (constraint groups, overlap pairs, region nodes) also keep them in the used
// list through takeListed and giveListed. Records must be trivially
// destructible: the block is given back without running destructors.
template <class T>
class nePool
{
    static_assert(std::is_trivially_destructible_v<T>);

public:
    nePool() = default;
    nePool(const nePool&) = delete;
    nePool& operator=(const nePool&) = delete;

    // count <= 0, or an allocator without memory, leaves the pool empty.
    void build(neAllocatorAbstract& allocator, int32_t count)
    {
        if (count <= 0 || size_t(count) > SIZE_MAX / sizeof(T))
            return;
        void* block = allocator.alloc(sizeof(T) * size_t(count), 0);
        if (!block)
            return;
        records = static_cast<T*>(block);
        capacity = count;
        for (int32_t i = 0; i < count; ++i) {
            T* r = new (records + i) T();
            r->inUse = 0;
            freeList.pushBack(r);
        }
    }

    void release(neAllocatorAbstract& allocator)
    {
        if (records)
            allocator.free(records);
        records = nullptr;
        capacity = 0;
        inUseCount = 0;
        freeList.clear();
        used.clear();
    }

    // The first free record, marked in use; null when none is left.
    T* take()
    {
        T* r = freeList.head;
        if (!r)
            return nullptr;
        freeList.remove(r);
        r->inUse = 1;
        ++inUseCount;
        return r;
    }

    T* takeListed()
    {
        T* r = take();
        if (r)
            used.pushBack(r);
        return r;
    }

    // r must be an in-use record of this pool, unlinked from its owner's list.
    void give(T* r)
    {
        r->inUse = 0;
        freeList.pushFront(r);
        --inUseCount;
    }

    void giveListed(T* r)
    {
        used.remove(r);
        give(r);
    }

    // Whether p is the address of one of this pool's records (free or not).
    bool owns(const void* p) const
    {
        const uintptr_t a = reinterpret_cast<uintptr_t>(p), b = reinterpret_cast<uintptr_t>(records);
        return records && a >= b && a < b + sizeof(T) * size_t(capacity) && (a - b) % sizeof(T) == 0;
    }
    bool holds(const void* p) const { return owns(p) && static_cast<const T*>(p)->inUse; }

    int32_t indexOf(const T* r) const { return int32_t(r - records); }
    T& operator[](int32_t i) { return records[i]; }
    const T& operator[](int32_t i) const { return records[i]; }

    int32_t size() const { return capacity; }
    int32_t freeCount() const { return freeList.count; }
    int32_t usedCount() const { return inUseCount; }

    neList<T> used;

private:
    T* records = nullptr;
    int32_t capacity = 0;
    int32_t inUseCount = 0;
    neList<T> freeList;
};
