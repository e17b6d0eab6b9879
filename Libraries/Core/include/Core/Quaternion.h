#pragma once

#include "Core/Matrix.h"
#include "Core/Vector.h"

// A rotation as x, y, z and the scalar part w, as bones, cameras and physics
// keep it. The matrix conversions follow the row-vector convention of
// matrix3d: fromMatrix of a rotation about z by a positive angle a gives
// (0, 0, sin(a/2), cos(a/2)).
struct quaternion
{
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    constexpr quaternion() = default;
    constexpr quaternion(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    constexpr float dot(const quaternion& o) const { return x * o.x + y * o.y + z * o.z + w * o.w; }

    // From the three rows of a rotation matrix (row r = the image of axis r).
    static quaternion fromMatrix(const vec3d& row0, const vec3d& row1, const vec3d& row2);
    static quaternion fromMatrix(const matrix3d& m) { return fromMatrix(m.row(0), m.row(1), m.row(2)); }
    // The inverse of fromMatrix for a unit quaternion: the rotation in rows 0
    // to 2, no translation.
    matrix3d toMatrix() const;

    // Three angles in degrees; angle 2 is 0 at the gimbal lock.
    vec3d toEuler() const;

    // The unit axis and the angle in radians; the identity gives (1, 0, 0) and 0.
    void toAxisAngle(vec3d& axis, float& angle) const;

    // Normalised linear blend along the shorter arc.
    static quaternion nlerp(const quaternion& q0, const quaternion& q1, float t);

    // Second-degree Bezier blend (1-t)^2 q0 + 2t(1-t) q1 + t^2 q2, with q1 and
    // q2 turned to the hemisphere of their predecessor, normalised.
    static quaternion bezierBlend(const quaternion& q0, const quaternion& q1, const quaternion& q2, float t);
};
static_assert(sizeof(quaternion) == 16);
