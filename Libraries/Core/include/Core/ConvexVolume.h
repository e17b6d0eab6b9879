#pragma once

#include "Core/BoundingBox.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/Vector.h"

#include <cstdint>

// A convex region bounded by up to 64 planes: the view frustum, shadow-map
// and projector volumes, octree culling. The inside of a plane is where
// normal . x >= distance. A volume with fewer than 3 planes holds nothing.
struct ConvexVolume
{
    struct Plane
    {
        vec3d normal{0.0f, 1.0f, 0.0f};
        float distance = 0.0f; // normal . point
        vec3d point;           // a point on the plane
    };
    static_assert(sizeof(Plane) == 7 * sizeof(float));

    // Classification results.
    static constexpr int32_t inside = 3;
    static constexpr int32_t outside = 4;
    static constexpr int32_t intersecting = 5;

    static constexpr int maxPlanes = 64;

    Plane planes[maxPlanes];
    int32_t count = 0;

    // The six planes of a view-projection matrix (row vectors), in the order
    // near, far, left, top, right, bottom, normals pointing inwards. Count
    // becomes 6.
    void setFromMatrix(const matrix3d& m);

    // Copies all plane slots from other; the count is left as it is.
    void copyPlanes(const ConvexVolume& other);

    // 3 inside, 4 outside or 5 intersecting. A box touching a plane from the
    // inside counts as intersecting.
    int32_t classifyOrientedBox(const OrientedBox& box) const;
    int32_t classifyBox(const vec3d& minimum, const vec3d& maximum) const;
    int32_t classifyBox(const BoundingBox& box) const { return classifyBox(box.minimum, box.maximum); }

    // 3 or 4: a point up to 0.001 outside a plane still counts as inside.
    int32_t classifyPoint(const vec3d& p) const;

    // 1 when direction lies within 0.001 of one of the planes from the third
    // on (the side planes of a frustum), else 0; 0 for fewer than 3 planes.
    int32_t testPlanes(const vec3d& direction) const;

    // Moves every plane by m: the point by the full matrix, the normal by its
    // 3 x 3 part (not renormalised, so m should be a rigid motion).
    void transform(const matrix3d& m);

    // Narrows source, a view volume seen from the current camera position, to
    // the convex polygon points[0..pointCount): this volume takes the source's
    // near and far planes and count; each side plane k = 2..5, paired with the
    // directions -right, -up, +right, +up, stays the source's plane when the
    // polygon reaches beyond it, else becomes the tightest plane through the
    // camera along that direction that holds the polygon. Returns false and
    // changes nothing for fewer than 3 points or an empty source.
    bool fromPolygon(const vec3d* points, int pointCount, const ConvexVolume& source, const vec3d& right,
                     const vec3d& up);
};
