#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// A smooth value in 0..1 that varies over about `scale` samples: value noise
// over a hashed lattice, the same on every run. With a period above 0 it
// repeats every `period` samples, so that textures made from it tile.
inline float valueNoise(float x, float y, float scale, uint32_t seed, int32_t period = 0)
{
    const int32_t cells = period > 0 ? std::max(1, int32_t(float(period) / scale)) : 0;
    auto lattice = [&](int32_t i, int32_t j) {
        if (cells) {
            i = ((i % cells) + cells) % cells;
            j = ((j % cells) + cells) % cells;
        }
        uint32_t h = uint32_t(i) * 374761393u + uint32_t(j) * 668265263u + seed * 2246822519u;
        h = (h ^ (h >> 13)) * 1274126177u;
        return float((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
    };
    const float u = x / scale, v = y / scale;
    const int32_t i = int32_t(std::floor(u)), j = int32_t(std::floor(v));
    const float fu = u - float(i), fv = v - float(j);
    const float su = fu * fu * (3 - 2 * fu), sv = fv * fv * (3 - 2 * fv);
    const float top = lattice(i, j) + (lattice(i + 1, j) - lattice(i, j)) * su;
    const float bottom = lattice(i, j + 1) + (lattice(i + 1, j + 1) - lattice(i, j + 1)) * su;
    return top + (bottom - top) * sv;
}
