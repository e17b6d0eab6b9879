#include "Physics/neAllocator.h"

#include <cstdlib>

void* neAllocatorDefault::alloc(size_t size, int32_t)
{
    bytes += size;
    return std::malloc(size);
}

void neAllocatorDefault::free(void* p) { std::free(p); }
