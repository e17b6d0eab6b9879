#pragma once

#include "Physics/neAllocator.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

// An array of records that grows through the simulator's allocator when it is
// full: by doubling (growth -1), by a fixed number of records (growth > 0) or
// not at all (growth 0). The solver's row and contact lists and the stack
// lists; they keep their storage from step to step, so growing is rare.
template <class T>
class neGrowArray
{
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    neGrowArray() = default;
    neGrowArray(const neGrowArray&) = delete;
    neGrowArray& operator=(const neGrowArray&) = delete;

    // A failed allocation leaves the array without storage; it may grow later.
    void build(neAllocatorAbstract& allocator, int32_t capacity, int32_t growth)
    {
        alloc = &allocator;
        growStep = growth;
        if (capacity > 0)
            data = static_cast<T*>(allocator.alloc(sizeof(T) * size_t(capacity), 0));
        room = data ? capacity : 0;
        used = 0;
    }

    void release()
    {
        if (data)
            alloc->free(data);
        data = nullptr;
        room = used = 0;
    }

    // The next record, or null when the array is full and cannot grow (the
    // records already in it stay as they are).
    T* append()
    {
        if (used == room && !grow())
            return nullptr;
        return &data[used++];
    }

    // Appends a copy; false when there is no room.
    bool push(const T& value)
    {
        T* slot = append();
        if (!slot)
            return false;
        *slot = value;
        return true;
    }

    void clear() { used = 0; }

    int32_t count() const { return used; }
    int32_t capacity() const { return room; }
    T& operator[](int32_t i) { return data[i]; }
    const T& operator[](int32_t i) const { return data[i]; }

private:
    bool grow()
    {
        if (!alloc || growStep == 0)
            return false;
        int64_t wanted = growStep < 0 ? int64_t(room) * 2 : int64_t(room) + growStep;
        if (wanted <= room)
            wanted = room + 1;
        if (wanted > INT32_MAX / int64_t(sizeof(T)))
            return false;
        T* bigger = static_cast<T*>(alloc->alloc(sizeof(T) * size_t(wanted), 0));
        if (!bigger)
            return false;
        if (used > 0)
            std::memcpy(static_cast<void*>(bigger), data, sizeof(T) * size_t(used));
        if (data)
            alloc->free(data);
        data = bigger;
        room = int32_t(wanted);
        return true;
    }

    neAllocatorAbstract* alloc = nullptr;
    T* data = nullptr;
    int32_t room = 0;
    int32_t used = 0;
    int32_t growStep = 0;
};
