#pragma once

#include "Core/Color.h"

#include <cstdint>

// The common base of the engine's software images: size, element format code
// and the state of the bilinear sampler. surface1d<T> keeps its pixels as one
// block row after row, surface2d<T> as a table of column blocks.
// Sizes are -1 while empty; maxX and maxY are the sampler's clamp limits
// (-2 in a fresh base, -1 once emptied).
class surface
{
public:
    explicit surface(int32_t format = 0) : formatCode(format) {}
    virtual ~surface() = default;

    // Images larger than this on either side are refused by every resize:
    // nothing in the engine comes near, and it keeps sizes from files in check.
    static constexpr int32_t maxSide = 16384;

    float u = 0.0f; // next sample position, fractions of width and height
    float v = 0.0f;
    int32_t formatCode = 0;
    int32_t width = -1;
    int32_t height = -1;
    int32_t maxX = -2;
    int32_t maxY = -2;
    uint32_t ownsPixels = 0;
    float sampleX = 0.0f; // the last sample position in pixels
    float sampleY = 0.0f;
    int32_t x0 = 0;
    int32_t y0 = 0;
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t fracX = 0; // weights 0..255
    int32_t fracY = 0;
    uint32_t wrap = 0; // non-zero: the sampler wraps at the edges instead of clamping

protected:
    surface(const surface&) = default;
    surface& operator=(const surface&) = default;

    // Bilinear sample at (u, v) of a row-after-row Color block of this size.
    // Positions outside the image are clamped (or wrapped), never read outside.
    Color sampleBlock(const Color* pixels);

    void setEmptySize()
    {
        width = height = maxX = maxY = -1;
        ownsPixels = 0;
    }
    void setSize(int32_t w, int32_t h)
    {
        width = w;
        height = h;
        maxX = w - 1;
        maxY = h - 1;
    }
};
