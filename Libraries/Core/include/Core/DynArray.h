#pragma once

#include "Core/Array.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

// A growing array whose capacity is always a whole number of blocks.
// There is no separate "used" length: count() is blockSize * blocks.
// at() grows the array to cover the index, so addresses handed out stay
// valid only until the next growth.
// Storage is allocated with new[] (new elements are value-initialised, so
// plain records start zeroed); detach() hands it over and the caller frees
// it with delete[].
template <class T>
class DynArray : public Array<T>
{
public:
    // blockSize 0 is taken as 1. elementwiseCopy selects copying with the
    // element's copy operation; otherwise plain-data elements are copied as
    // raw bytes (other element types are moved, which is the same relocation
    // made safe for types that own resources).
    explicit DynArray(uint32_t blockSize = 64, bool elementwiseCopy = false)
        : elementwiseCopy_(elementwiseCopy), blockSize_(blockSize ? blockSize : 1)
    {
    }

    DynArray(const DynArray&) = delete;
    DynArray& operator=(const DynArray&) = delete;

    DynArray(DynArray&& other) noexcept
        : elementwiseCopy_(other.elementwiseCopy_), blockSize_(other.blockSize_),
          blocks_(other.blocks_), count_(other.count_), data_(other.data_)
    {
        other.blocks_ = 0;
        other.count_ = 0;
        other.data_ = nullptr;
    }

    DynArray& operator=(DynArray&& other) noexcept
    {
        if (this != &other) {
            delete[] data_;
            elementwiseCopy_ = other.elementwiseCopy_;
            blockSize_ = other.blockSize_;
            blocks_ = other.blocks_;
            count_ = other.count_;
            data_ = other.data_;
            other.blocks_ = 0;
            other.count_ = 0;
            other.data_ = nullptr;
        }
        return *this;
    }

    ~DynArray()
    {
        delete[] data_;
        data_ = nullptr;
        blocks_ = 0;
        count_ = 0;
    }

    // Grows to cover index, then returns its address. Returns null for a
    // negative index or when the growth failed (the array is then unchanged).
    T* at(int32_t index) override
    {
        if (index < 0)
            return nullptr;
        reserve(uint32_t(index) + 1);
        if (uint32_t(index) >= count_)
            return nullptr;
        return data_ + index;
    }

    T* data() override { return data_; }
    int32_t count() override { return int32_t(count_); }

    // Hands the storage (free it with delete[]) to the caller and empties the array.
    T* detach() override
    {
        T* storage = data_;
        data_ = nullptr;
        blocks_ = 0;
        count_ = 0;
        return storage;
    }

    // Makes room for n elements; never shrinks. Returns false when the growth failed.
    bool reserve(uint32_t n)
    {
        if (n <= count_)
            return true;
        return setBlocks(uint32_t((uint64_t(n) + blockSize_ - 1) / blockSize_));
    }

    // Resizes to b blocks, keeping the elements that still fit. On a failed
    // allocation (or a size beyond what count() can report) the array stays
    // as it was and false is returned.
    bool setBlocks(uint32_t b)
    {
        const uint64_t newCount = uint64_t(blockSize_) * b;
        if (newCount > uint64_t(INT32_MAX))
            return false;
        T* storage = nullptr;
        if (newCount > 0) {
            storage = new (std::nothrow) T[size_t(newCount)]();
            if (!storage)
                return false;
        }
        const uint32_t keep = count_ < newCount ? count_ : uint32_t(newCount);
        relocate(storage, data_, keep);
        delete[] data_;
        data_ = storage;
        blocks_ = b;
        count_ = uint32_t(newCount);
        return true;
    }

    // Copies n elements from source into the storage (at most count() of them).
    void assign(uint32_t n, const T* source)
    {
        if (!source || !data_)
            return;
        if (n > count_)
            n = count_;
        if constexpr (std::is_trivially_copyable_v<T>) {
            if (!elementwiseCopy_) {
                if (n)
                    std::memcpy(static_cast<void*>(data_), static_cast<const void*>(source), size_t(n) * sizeof(T));
                return;
            }
        }
        for (uint32_t i = 0; i < n; ++i)
            data_[i] = source[i];
    }

    uint32_t blockSize() const { return blockSize_; }
    uint32_t blocks() const { return blocks_; }
    bool elementwiseCopy() const { return elementwiseCopy_; }

private:
    void relocate(T* target, T* source, uint32_t n)
    {
        if (n == 0)
            return;
        if constexpr (std::is_copy_assignable_v<T>) {
            if (elementwiseCopy_) {
                for (uint32_t i = 0; i < n; ++i)
                    target[i] = source[i];
                return;
            }
        }
        if constexpr (std::is_trivially_copyable_v<T>) {
            std::memcpy(static_cast<void*>(target), static_cast<const void*>(source), size_t(n) * sizeof(T));
        } else {
            for (uint32_t i = 0; i < n; ++i)
                target[i] = std::move(source[i]);
        }
    }

    bool elementwiseCopy_;
    uint32_t blockSize_;
    uint32_t blocks_ = 0;
    uint32_t count_ = 0;
    T* data_ = nullptr;
};
