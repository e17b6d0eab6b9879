#include "Core/Coding.h"

namespace
{
constexpr bool isPermutation()
{
    for (uint32_t i = 0; i < 256; ++i)
        if (Coding::inverse[Coding::table[i]] != i)
            return false;
    return true;
}
static_assert(isPermutation(), "the package byte substitution must be a permutation");
}

void Coding::encode(uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        bytes[i] = table[bytes[i]];
}

void Coding::decode(uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        bytes[i] = inverse[bytes[i]];
}
