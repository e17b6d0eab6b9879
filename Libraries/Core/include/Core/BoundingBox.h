#pragma once

#include "Core/Vector.h"

struct matrix3d;

// An axis-aligned box record of 11 floats: the same leading fields as
// OrientedBox, then the minimum and maximum corners.
struct BoundingBox
{
    vec3d center;
    float radius = 0.0f;   // kept by the owners of the record, not used here
    float radiusSq = 0.0f; // likewise
    vec3d minimum;
    vec3d maximum;

    // The faces are tried in the order z, x, y; bounds count as inside.
    // Returns true with the ray parameter t of the first face hit, true with
    // t = 0 when the origin is inside, false with t = 0 on a miss. As with
    // OrientedBox, a face behind the origin can give a negative t.
    bool intersectRay(const vec3d& origin, const vec3d& direction, float& t) const;

    // Squared distance in the horizontal plane (x and z) from the current
    // camera position to the box; 0 when the camera is over the box.
    float distanceSqToCameraXZ() const;

    // The axis-aligned box that holds this box's corners carried by m (row
    // vectors): minimum, maximum and centre; the radius fields are copied.
    BoundingBox carried(const matrix3d& m) const;
};
static_assert(sizeof(BoundingBox) == 11 * sizeof(float));
