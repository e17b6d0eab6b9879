#pragma once

#include <cstdint>

// The smooth surface over a square grid of 16-bit heights (the terrain's
// coarse grid). Each grid cell becomes a bicubic Bezier patch whose 16 control
// heights come from the 4 x 4 samples around the cell (clamped into the grid
// at its edges); the patch passes through the cell's four corner samples and
// joins its neighbours without a step. A cell is sampled at 9 x 9 points
// (8 x 8 sub-cells); neighbouring cells give equal values on their shared
// border.
//
// The grid is size x size values, grid[i * size + j]: the first index i is the
// row of the heights, the second j the position within the row. Heights come
// out in height units: a raw value h is h x unit.
struct HeightSurface
{
    static constexpr float unit = 0.00390628f;
    static constexpr int sub = 8; // sub-cells per cell side

    // The control heights of the cell whose first corner is sample (i, j),
    // four rows of four along j, the rows along i.
    static void controlHeights(const uint16_t* grid, int32_t size, int32_t i, int32_t j, float control[16]);
    // The height at sub-sample (si along i, sj along j), both 0..8, of a cell
    // with the given control heights.
    static float sample(const float control[16], int32_t si, int32_t sj);
    // The four heights at (si, sj), (si, sj + step), (si + step, sj) and
    // (si + step, sj + step), with si + step and sj + step at most 8: the
    // corners of a square of sub-cells, sampled together.
    static void sampleSquare(const float control[16], int32_t si, int32_t sj, int32_t step, float corners[4]);
    // The height at fine point (fi, fj) of the whole grid (sub-cells counted
    // from sample (0, 0); points outside 0..8 x size are clamped onto it).
    static float height(const uint16_t* grid, int32_t size, int32_t fi, int32_t fj);
};
