#include "Core/HeightSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

TEST(HeightSurface, PassesThroughTheGridJoinsItsCellsAndKeepsPlanesFlat)
{
    constexpr int32_t size = 16;
    std::mt19937 random(3);
    std::vector<uint16_t> grid(size * size);
    for (uint16_t& h : grid)
        h = uint16_t(random() % 60000);
    // Corner samples are the grid's own heights.
    for (int32_t i = 0; i < size; ++i)
        for (int32_t j = 0; j < size; ++j)
            ASSERT_FLOAT_EQ(HeightSurface::height(grid.data(), size, 8 * i, 8 * j),
                            float(grid[size_t(i * size + j)]) * 0.003906279802322388f);
    // A shared border has one value, whichever cell gives it.
    for (int32_t i = 1; i < size - 2; ++i)
        for (int32_t s = 0; s <= 8; ++s) {
            float here[16], next[16];
            HeightSurface::controlHeights(grid.data(), size, i, 5, here);
            HeightSurface::controlHeights(grid.data(), size, i, 6, next);
            ASSERT_EQ(HeightSurface::sample(here, s, 8), HeightSurface::sample(next, s, 0));
            HeightSurface::controlHeights(grid.data(), size, i + 1, 5, next);
            ASSERT_EQ(HeightSurface::sample(here, 8, s), HeightSurface::sample(next, 0, s));
        }
    // Inside the grid a plane stays a plane, also between the samples.
    for (int32_t i = 0; i < size; ++i)
        for (int32_t j = 0; j < size; ++j)
            grid[size_t(i * size + j)] = uint16_t(1000 + 300 * i + 170 * j);
    for (int32_t fi = 8; fi <= 8 * (size - 2); ++fi)
        for (int32_t fj = 8; fj <= 8 * (size - 2); fj += 3)
            ASSERT_NEAR(HeightSurface::height(grid.data(), size, fi, fj),
                        (1000.0f + 300.0f * float(fi) / 8 + 170.0f * float(fj) / 8) * HeightSurface::unit, 1e-3f);
    // Beyond the grid the edge values hold.
    EXPECT_EQ(HeightSurface::height(grid.data(), size, -5, -7), HeightSurface::height(grid.data(), size, 0, 0));
    EXPECT_EQ(HeightSurface::height(grid.data(), size, 9999, 8), HeightSurface::height(grid.data(), size, 8 * size, 8));
}

TEST(HeightSurface, ASquareOfSubSamplesIsItsFourSamples)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> height(0.0f, 65535.0f);
    float control[16];
    for (int round = 0; round < 20; ++round) {
        for (float& c : control)
            c = height(random);
        for (int32_t step : {1, 2, 4, 8})
            for (int32_t si = 0; si + step <= 8; si += step)
                for (int32_t sj = 0; sj + step <= 8; sj += step) {
                    float corners[4];
                    HeightSurface::sampleSquare(control, si, sj, step, corners);
                    const float expected[4] = {
                        HeightSurface::sample(control, si, sj), HeightSurface::sample(control, si, sj + step),
                        HeightSurface::sample(control, si + step, sj), HeightSurface::sample(control, si + step, sj + step)};
                    for (int k = 0; k < 4; ++k)
                        ASSERT_NEAR(corners[k], expected[k], 1e-3f) << si << " " << sj << " " << step << " " << k;
                }
    }
}

}
