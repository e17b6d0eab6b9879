#pragma once

#include "Core/Vector.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>

// Single-precision wrappers of the runtime library: computed in double,
// rounded to float.
inline float floatCos(float x) { return float(std::cos(double(x))); }
inline float floatSin(float x) { return float(std::sin(double(x))); }
inline float floatPow(float x, float y) { return float(std::pow(double(x), double(y))); }
inline float floatAcos(float x) { return float(std::acos(double(x))); }
inline float floatCeil(float x) { return float(std::ceil(double(x))); }
inline float floorFloat(float x) { return float(std::floor(double(x))); }
inline float floatSqrt(float x) { return float(std::sqrt(double(x))); }
inline float logFloat(float x) { return float(std::log(double(x))); }

// The nearest whole number, an exact half going down (271.5 gives 271,
// 271.51 gives 272): the rounding of the user interface's rectangles and
// text lines, and of the tree generator.
inline float roundHalfDown(float x)
{
    const float whole = floorFloat(x);
    return x - whole > 0.5f ? whole + 1.0f : whole;
}

// Mantissas of the square roots of [2, 4) (first half) and [1, 2) (second
// half), indexed by the lowest exponent bit and the 15 top mantissa bits.
// Written once by initFastMath, read-only afterwards (from every thread).
extern uint32_t fastSqrtTable[65536];

// Fills fastSqrtTable. The static initialisation of the Core library calls
// it; calling it again is harmless.
void initFastMath();

// Table square root for lengths in inner loops: exact for even powers of
// two, accurate to the 15 top mantissa bits otherwise. fastSqrt(0) is 0.
// Negative inputs, denormals and infinities are outside its domain.
inline float fastSqrt(float x)
{
    const uint32_t b = std::bit_cast<uint32_t>(x);
    if (b == 0)
        return 0.0f;
    const uint32_t exponent = (((b - 0x3F800000u) >> 1) + 0x3F800000u) & 0x7F800000u;
    return std::bit_cast<float>(exponent | fastSqrtTable[(b >> 8) & 0xFFFFu]);
}

// The smallest power of two not below n and not below 2 (image sides and the
// texture atlas use it); 0 when it exceeds 2^31.
uint32_t nextPowerOfTwo(uint32_t n);

// The position of the camera of the frame being drawn. The swap chain points
// this at its camera when it chooses one; distance tests read it. Until then
// (or when set to null) the origin stands in.
extern std::atomic<const vec3d*> cameraPosition;

inline vec3d currentCameraPosition()
{
    const vec3d* p = cameraPosition.load(std::memory_order_acquire);
    return p ? *p : vec3d();
}
