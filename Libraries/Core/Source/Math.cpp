#include "Core/Math.h"

uint32_t fastSqrtTable[65536];

std::atomic<const vec3d*> cameraPosition{nullptr};

void initFastMath()
{
    for (uint32_t i = 0; i < 32768; ++i) {
        const float high = std::bit_cast<float>((i | 0x3F8000u) << 8);
        const float low = std::bit_cast<float>((i | 0x400000u) << 8);
        fastSqrtTable[32768 + i] = std::bit_cast<uint32_t>(float(std::sqrt(double(high)))) & 0x7FFFFFu;
        fastSqrtTable[i] = std::bit_cast<uint32_t>(float(std::sqrt(double(low)))) & 0x7FFFFFu;
    }
}

namespace {
// fastSqrt is inline everywhere and cannot test for an empty table, so the
// table is filled as soon as this library is loaded.
[[maybe_unused]] const bool fastMathReady = (initFastMath(), true);
}

uint32_t nextPowerOfTwo(uint32_t n)
{
    if (n > 0x80000000u)
        return 0;
    return n <= 2 ? 2 : std::bit_ceil(n);
}
