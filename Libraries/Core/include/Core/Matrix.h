#pragma once

#include "Core/Vector.h"

struct ConvexVolume;

// A 4 x 4 single-precision matrix for row vectors (v' = v * M), stored row
// by row: element [row * 4 + column], the translation in elements 12 to 14.
// This is the layout Direct3D's fixed-function transforms take directly; the
// renderer's view and projection matrices are left-handed.
struct matrix3d
{
    float m[16] = {};

    static matrix3d identity();
    // The turn of three angles in degrees as the skeleton keeps them:
    // Ry(y) x Rx(x) x Rz(z) for row vectors, no translation.
    static matrix3d fromAngles(const vec3d& degrees);

    float& at(int row, int column) { return m[row * 4 + column]; }
    float at(int row, int column) const { return m[row * 4 + column]; }

    // Row r's first three elements (row 3 is the translation).
    vec3d row(int r) const { return {m[r * 4], m[r * 4 + 1], m[r * 4 + 2]}; }
    void setRow(int r, const vec3d& v)
    {
        m[r * 4] = v.x;
        m[r * 4 + 1] = v.y;
        m[r * 4 + 2] = v.z;
    }

    // this * o: the transform of this followed by that of o.
    matrix3d operator*(const matrix3d& o) const;

    // (p, 1) * M without the division by w. Inline: the skinning walk
    // moves every vertex of a rider through one of these each frame.
    vec3d transformPoint(const vec3d& p) const
    {
        return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
                p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
    }
    // (v, 0) * M: the 3 x 3 part only.
    vec3d transformVector(const vec3d& v) const
    {
        return {v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
                v.x * m[2] + v.y * m[6] + v.z * m[10]};
    }

    // The inverse of an affine matrix: the 3 x 3 block by cofactors over the
    // determinant, column 3 (0, 0, 0, 1), the translation carried back. False,
    // leaving out alone, when the block is singular.
    bool inverseAffine(matrix3d& out) const;

    // The box-shaped part of a six-plane volume (near, far, left, top,
    // right, bottom as ConvexVolume::setFromMatrix orders them): the corners
    // where neighbouring side planes meet the near plane when the volume's
    // sides run along its view direction (a parallel volume), else the far
    // plane. Gives the middle of those corners as centre, the width from the
    // left to the right plane and the height from the top to the bottom
    // plane, and returns the parallel projection that scales x by 2 / width
    // and y by 2 / height (depth and translation left to the caller: 1 and
    // 0). False, with the outputs untouched, for fewer than six planes or
    // planes that do not meet in a corner.
    static bool fitToVolume(const ConvexVolume& volume, matrix3d& projection, vec3d& centre, float& width,
                            float& height);
};
static_assert(sizeof(matrix3d) == 64);
