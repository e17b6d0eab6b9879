#pragma once

#include "Core/Array.h"

#include <cstdint>

// N elements held inside the object. count() is always N; the inline storage
// cannot be handed over, so detach() only returns its address.
template <class T, int32_t N>
class ArrayStack : public Array<T>
{
    static_assert(N > 0, "ArrayStack needs at least one element");

public:
    T* at(int32_t index) override { return items + index; }
    T* data() override { return items; }
    int32_t count() override { return N; }
    T* detach() override { return items; }

private:
    T items[N] = {};
};
