#pragma once

#include <cstdint>

// A normalised Gaussian blur kernel of 2 x halfWidth + 1 weights, for the
// GPU smoothing post-effect.
struct GaussKernel
{
    static constexpr int32_t maxHalfWidth = 127;

    float weights[2 * maxHalfWidth + 2] = {};
    int32_t halfWidth = 0;

    // halfWidth = ceil(4 x radius), at most maxHalfWidth; weights
    // exp(-0.5 (i - n)^2 / radius^2) divided by their sum. A radius of 0 or
    // less (or NaN) gives halfWidth 0 and the single weight 1.
    void build(float radius);
};
