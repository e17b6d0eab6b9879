#pragma once

#include <cstdint>

// The engine's array interface. The four operations keep this slot order:
// element at an index, first element, element count, detach (hands the
// storage to the caller and empties the array).
// Arrays are owned by value; they are never deleted through this interface,
// hence the protected, non-virtual destructor.
template <class T>
class Array
{
public:
    virtual T* at(int32_t index) = 0;
    virtual T* data() = 0;
    virtual int32_t count() = 0;
    virtual T* detach() = 0;

protected:
    Array() = default;
    Array(const Array&) = default;
    Array& operator=(const Array&) = default;
    ~Array() = default;
};
