#pragma once

#include <cstddef>
#include <cstdint>

// Where the simulator takes the storage of its pools from. Every pool is
// taken once, when the simulator is built, and given back when it is destroyed.
class neAllocatorAbstract
{
public:
    virtual ~neAllocatorAbstract() = default;
    // Null when no memory is left; flags are the caller's and may be ignored.
    virtual void* alloc(size_t size, int32_t flags) = 0;
    virtual void free(void* p) = 0;
};

// The general heap, with a count of every byte handed out.
class neAllocatorDefault final : public neAllocatorAbstract
{
public:
    void* alloc(size_t size, int32_t flags) override;
    void free(void* p) override;

    size_t allocatedBytes() const { return bytes; }

private:
    size_t bytes = 0;
};
