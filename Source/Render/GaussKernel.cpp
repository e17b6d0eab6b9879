#include "Render/GaussKernel.h"

#include <cmath>

void GaussKernel::build(float radius)
{
    for (float& w : weights)
        w = 0.0f;
    halfWidth = 0;
    if (!(radius > 0.0f)) {
        weights[0] = 1.0f;
        return;
    }
    const double width = std::ceil(4.0 * double(radius));
    halfWidth = width > maxHalfWidth ? maxHalfWidth : int32_t(width);
    double sum = 0.0;
    for (int32_t i = 0; i <= 2 * halfWidth; ++i) {
        const double d = double(i - halfWidth);
        const double w = std::exp(-0.5 * d * d / (double(radius) * double(radius)));
        weights[i] = float(w);
        sum += w;
    }
    for (int32_t i = 0; i <= 2 * halfWidth; ++i)
        weights[i] = float(weights[i] / sum);
}
