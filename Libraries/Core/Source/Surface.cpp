#include "Core/Surface.h"

#include <cmath>

namespace
{
int32_t wrapIndex(int32_t i, int32_t n)
{
    i %= n;
    return i < 0 ? i + n : i;
}

int32_t clampIndex(int32_t i, int32_t maxIndex)
{
    return i < 0 ? 0 : (i > maxIndex ? maxIndex : i);
}

uint8_t mix(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, uint32_t fx, uint32_t fy)
{
    const uint32_t top = p10 * fx + p00 * (255 - fx);
    const uint32_t bottom = p11 * fx + p01 * (255 - fx);
    return uint8_t((top * (255 - fy) + bottom * fy) / 65025);
}
}

Color surface::sampleBlock(const Color* pixels)
{
    if (!pixels || width < 1 || height < 1)
        return Color();
    sampleX = u * float(width);
    sampleY = v * float(height);
    if (!std::isfinite(sampleX) || !std::isfinite(sampleY))
        sampleX = sampleY = 0.0f;
    const float fx = std::floor(sampleX);
    const float fy = std::floor(sampleY);
    // Far outside positions are pulled in before the integer conversion.
    const float limit = float(maxSide) * 4.0f;
    x0 = int32_t(fx < -limit ? -limit : (fx > limit ? limit : fx));
    y0 = int32_t(fy < -limit ? -limit : (fy > limit ? limit : fy));
    x1 = x0 + 1;
    y1 = y0 + 1;
    fracX = int32_t((sampleX - fx) * 255.0f);
    fracY = int32_t((sampleY - fy) * 255.0f);
    fracX = clampIndex(fracX, 255);
    fracY = clampIndex(fracY, 255);
    if (wrap) {
        x0 = wrapIndex(x0, width);
        y0 = wrapIndex(y0, height);
        x1 = wrapIndex(x1, width);
        y1 = wrapIndex(y1, height);
    } else {
        x0 = clampIndex(x0, width - 1);
        y0 = clampIndex(y0, height - 1);
        x1 = clampIndex(x1, width - 1);
        y1 = clampIndex(y1, height - 1);
    }
    const Color& p00 = pixels[size_t(y0) * width + x0];
    const Color& p10 = pixels[size_t(y0) * width + x1];
    const Color& p01 = pixels[size_t(y1) * width + x0];
    const Color& p11 = pixels[size_t(y1) * width + x1];
    Color c;
    c.b = mix(p00.b, p10.b, p01.b, p11.b, fracX, fracY);
    c.g = mix(p00.g, p10.g, p01.g, p11.g, fracX, fracY);
    c.r = mix(p00.r, p10.r, p01.r, p11.r, fracX, fracY);
    c.a = mix(p00.a, p10.a, p01.a, p11.a, fracX, fracY);
    return c;
}
