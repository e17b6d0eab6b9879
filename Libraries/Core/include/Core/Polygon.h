#pragma once

#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>

// A 2D outline: the first count elements of points (count never exceeds
// points.count(); the array itself grows in blocks).
struct polygon2d
{
    DynArray<vec2d> points{16};
    int32_t count = 0;

    // Appends p; false when the array cannot grow.
    bool add(const vec2d& p);

    // The points for reading (the array interface has no const access).
    const vec2d* pointData() const { return const_cast<DynArray<vec2d>&>(points).data(); }

    // With more than 3 points, replaces them by their convex hull, starting
    // at the highest y and running through the highest x, the lowest y and
    // the lowest x (clockwise with y up). Points on a hull edge are dropped.
    void makeConvexHull();
};

// A 3D outline, e.g. a water surface lifted out of its 2D shape.
class polygon3d
{
public:
    virtual ~polygon3d() = default;

    // Every point (x, y) of source becomes (x, y, 0) * m; the count is
    // copied. False (and an empty polygon) when the array cannot grow.
    bool fromPolygon2d(const polygon2d& source, const matrix3d& m);

    const vec3d* pointData() const { return const_cast<DynArray<vec3d>&>(points).data(); }

    DynArray<vec3d> points{16};
    int32_t count = 0;
};

// Intersects the lines through a0-a1 and b0-b1. Parallel lines give 0 and
// leave out untouched; otherwise out is the crossing point and the result is
// 1 when it lies within both segments' x and y ranges (bounds included).
int segmentIntersect2d(const vec2d& a0, const vec2d& a1, const vec2d& b0, const vec2d& b1, vec2d& out);
