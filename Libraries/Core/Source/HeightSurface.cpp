#include "Core/HeightSurface.h"

#include <array>

namespace {

constexpr float bernstein(int i, float t)
{
    const float s = 1.0f - t;
    const float binomial[4] = {1.0f, 3.0f, 3.0f, 1.0f};
    float value = binomial[i];
    for (int k = 0; k < i; ++k)
        value *= t;
    for (int k = i; k < 3; ++k)
        value *= s;
    return value;
}

// Table k = a + 4 b holds, at [si][sj], the weight of control height k at
// sub-sample (si, sj): bernstein(b, si / 8) x bernstein(a, sj / 8), with the
// raw-to-height-unit factor folded in.
using Tables = std::array<std::array<std::array<float, 9>, 9>, 16>;

constexpr Tables makeTables()
{
    Tables tables{};
    for (int k = 0; k < 16; ++k)
        for (int si = 0; si <= 8; ++si)
            for (int sj = 0; sj <= 8; ++sj)
                tables[k][si][sj] = bernstein(k / 4, float(si) / 8.0f) * bernstein(k % 4, float(sj) / 8.0f) *
                                    0.003906279802322388f;
    return tables;
}

constexpr Tables basis = makeTables();

// The one-dimensional weights: weights[s][k] = bernstein(k, s / 8), the first
// axis carrying the raw-to-height-unit factor.
using Weights = std::array<std::array<float, 4>, 9>;

constexpr Weights makeWeights(float factor)
{
    Weights weights{};
    for (int s = 0; s <= 8; ++s)
        for (int k = 0; k < 4; ++k)
            weights[s][k] = bernstein(k, float(s) / 8.0f) * factor;
    return weights;
}

constexpr Weights alongI = makeWeights(0.003906279802322388f);
constexpr Weights alongJ = makeWeights(1.0f);

int32_t clampIndex(int32_t v, int32_t size) { return v < 0 ? 0 : v >= size ? size - 1 : v; }

}

void HeightSurface::controlHeights(const uint16_t* grid, int32_t size, int32_t i, int32_t j, float control[16])
{
    float p[4][4];
    for (int a = 0; a < 4; ++a) {
        const uint16_t* row = grid + size_t(clampIndex(i - 1 + a, size)) * size_t(size);
        for (int b = 0; b < 4; ++b)
            p[a][b] = float(row[clampIndex(j - 1 + b, size)]);
    }
    constexpr float d = 1.0f / 6.0f;
    const float rows[16] = {
        p[1][1], p[1][1] + (p[1][2] - p[1][0]) * d, p[1][2] - (p[1][3] - p[1][1]) * d, p[1][2],
        p[1][1] + (p[2][1] - p[0][1]) * d, p[1][1] + (p[2][2] - p[0][0]) * d, p[1][2] + (p[2][1] - p[0][3]) * d,
        p[1][2] + (p[2][2] - p[0][2]) * d,
        p[2][1] - (p[3][1] - p[1][1]) * d, p[2][1] - (p[3][0] - p[1][2]) * d, p[2][2] - (p[3][3] - p[1][1]) * d,
        p[2][2] - (p[3][2] - p[1][2]) * d,
        p[2][1], p[2][1] + (p[2][2] - p[2][0]) * d, p[2][2] - (p[2][3] - p[2][1]) * d, p[2][2]};
    for (int k = 0; k < 16; ++k)
        control[k] = rows[k];
}

float HeightSurface::sample(const float control[16], int32_t si, int32_t sj)
{
    float h = 0.0f;
    for (int k = 0; k < 16; ++k)
        h += basis[k][si][sj] * control[k];
    return h;
}

void HeightSurface::sampleSquare(const float control[16], int32_t si, int32_t sj, int32_t step, float corners[4])
{
    // Each row of control heights (fixed b along i) folded along j first.
    const std::array<float, 4>& j0 = alongJ[sj];
    const std::array<float, 4>& j1 = alongJ[sj + step];
    float near[4], far[4];
    for (int b = 0; b < 4; ++b) {
        const float* row = control + 4 * b;
        near[b] = row[0] * j0[0] + row[1] * j0[1] + row[2] * j0[2] + row[3] * j0[3];
        far[b] = row[0] * j1[0] + row[1] * j1[1] + row[2] * j1[2] + row[3] * j1[3];
    }
    const std::array<float, 4>& i0 = alongI[si];
    const std::array<float, 4>& i1 = alongI[si + step];
    corners[0] = near[0] * i0[0] + near[1] * i0[1] + near[2] * i0[2] + near[3] * i0[3];
    corners[1] = far[0] * i0[0] + far[1] * i0[1] + far[2] * i0[2] + far[3] * i0[3];
    corners[2] = near[0] * i1[0] + near[1] * i1[1] + near[2] * i1[2] + near[3] * i1[3];
    corners[3] = far[0] * i1[0] + far[1] * i1[1] + far[2] * i1[2] + far[3] * i1[3];
}

float HeightSurface::height(const uint16_t* grid, int32_t size, int32_t fi, int32_t fj)
{
    const int32_t limit = size * sub;
    fi = fi < 0 ? 0 : fi > limit ? limit : fi;
    fj = fj < 0 ? 0 : fj > limit ? limit : fj;
    float control[16];
    controlHeights(grid, size, fi / sub, fj / sub, control);
    return sample(control, fi % sub, fj % sub);
}
