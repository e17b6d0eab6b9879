#pragma once

#include "Core/Array.h"

#include <cstdint>
#include <new>
#include <utility>

// An array whose element count is chosen at construction (or by resize),
// allocated on the heap with new[]. Accessors never allocate and never check
// bounds. detach() hands the storage over; the caller frees it with delete[].
template <class T>
class ArrayHeap : public Array<T>
{
public:
    ArrayHeap() = default;

    // A failed allocation leaves the array empty (count() 0).
    explicit ArrayHeap(int32_t count) { resize(count); }

    ArrayHeap(const ArrayHeap&) = delete;
    ArrayHeap& operator=(const ArrayHeap&) = delete;

    ArrayHeap(ArrayHeap&& other) noexcept : data_(other.data_), count_(other.count_)
    {
        other.data_ = nullptr;
        other.count_ = 0;
    }

    ArrayHeap& operator=(ArrayHeap&& other) noexcept
    {
        if (this != &other) {
            deleteArray();
            data_ = other.data_;
            count_ = other.count_;
            other.data_ = nullptr;
            other.count_ = 0;
        }
        return *this;
    }

    ~ArrayHeap() { deleteArray(); }

    T* at(int32_t index) override { return data_ + index; }
    T* data() override { return data_; }
    int32_t count() override { return int32_t(count_); }

    T* detach() override
    {
        T* storage = data_;
        data_ = nullptr;
        count_ = 0;
        return storage;
    }

    // Destroys every element, frees the storage and leaves the array empty.
    void deleteArray()
    {
        delete[] data_;
        data_ = nullptr;
        count_ = 0;
    }

    // Changes the element count, keeping the elements that still fit (new ones
    // are value-initialised). Returns false, leaving the array unchanged, when
    // count is negative or the allocation fails.
    bool resize(int32_t count)
    {
        if (count < 0)
            return false;
        if (uint32_t(count) == count_)
            return true;
        T* storage = nullptr;
        if (count > 0) {
            storage = new (std::nothrow) T[size_t(count)]();
            if (!storage)
                return false;
        }
        const uint32_t keep = count_ < uint32_t(count) ? count_ : uint32_t(count);
        for (uint32_t i = 0; i < keep; ++i)
            storage[i] = std::move(data_[i]);
        delete[] data_;
        data_ = storage;
        count_ = uint32_t(count);
        return true;
    }

private:
    T* data_ = nullptr;
    uint32_t count_ = 0;
};
