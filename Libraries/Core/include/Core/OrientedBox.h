#pragma once

#include "Core/Vector.h"

struct matrix3d;

// An oriented box: a record of 17 floats that meshes, entities and physics
// store as is. The axes are unit vectors; halfExtents holds one half size
// per axis.
struct OrientedBox
{
    vec3d center;
    float radius = 0.0f;   // kept by the owners of the record, not used here
    float radiusSq = 0.0f; // likewise
    vec3d axes[3];
    vec3d halfExtents;

    // Grows the half extents until point lies inside; center and axes stay.
    void extendToPoint(const vec3d& point);

    // Grows this box, keeping its axes, until it holds the eight corners of
    // other (with 0.001 of slack); the center moves to the middle of the
    // grown box.
    void extendToBox(const OrientedBox& other);

    // Ray against the box. Returns the face the ray enters from outside:
    // 0/1 = +/- axis 0, 2/3 = +/- axis 1, 4/5 = +/- axis 2, with t the ray
    // parameter of the hit and boxHitNormal set to that face's outward normal.
    // Returns 6 when no face lies ahead of the origin from outside (the origin
    // is inside, or the ray runs parallel to the face it lies beyond) and 7
    // when the faces tried are missed, t = 0 in both cases. The sign of t is
    // not tested: a face behind the origin can be reported with a negative t.
    int intersectRay(const vec3d& origin, const vec3d& direction, float& t) const;

    // Separating-axis test over the 3 + 3 face axes and 9 edge cross products.
    // Boxes that only touch (a projection gap of exactly 0) overlap.
    static bool overlaps(const OrientedBox& a, const OrientedBox& b);

    // The corners of the axis-aligned box that holds this one.
    void alignedBounds(vec3d& minimum, vec3d& maximum) const;

    // The box carried by m (row vectors): the centre as a point, unit axes
    // along the carried axes, half extents scaled by their lengths. Exact for
    // rotations with scales along the box's axes; radius fields copied.
    OrientedBox carried(const matrix3d& m) const;
};
static_assert(sizeof(OrientedBox) == 17 * sizeof(float));

// The outward normal of the face found by the last OrientedBox::intersectRay
// on this thread.
extern thread_local vec3d boxHitNormal;
