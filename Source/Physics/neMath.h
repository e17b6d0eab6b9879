#pragma once

#include "Core/Math.h"
#include "Core/Matrix.h"
#include "Core/Quaternion.h"
#include "Core/Vector.h"

// Small maths of the rigid-body engine on top of the core library's value
// types. A transform is a matrix3d whose rows 0 to 2 are the frame's x, y and
// z axes and whose row 3 is its position; points are row vectors.

// A 3 x 3 matrix stored as three rows; products take column vectors (M * v),
// so a rotation whose rows are a frame's axes takes world vectors into that frame.
struct neM3
{
    vec3d r[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

    static neM3 identity() { return {}; }
    static neM3 zero() { return fromRows({}, {}, {}); }
    static neM3 diagonal(const vec3d& d) { return fromRows({d.x, 0, 0}, {0, d.y, 0}, {0, 0, d.z}); }
    static neM3 fromRows(const vec3d& a, const vec3d& b, const vec3d& c)
    {
        neM3 m;
        m.r[0] = a;
        m.r[1] = b;
        m.r[2] = c;
        return m;
    }

    vec3d operator*(const vec3d& v) const { return {r[0].dot(v), r[1].dot(v), r[2].dot(v)}; }
    vec3d column(int i) const { return {r[0][i], r[1][i], r[2][i]}; }
    neM3 transposed() const { return fromRows(column(0), column(1), column(2)); }
    neM3 operator*(const neM3& o) const
    {
        const neM3 t = o.transposed();
        return fromRows(t * r[0], t * r[1], t * r[2]);
    }
};

inline float absFloat(float f) { return f < 0.0f ? -f : f; }

// Inertia of a cube whose side is the largest extent: all three components 2 r^2 m / 3.
vec3d cubeInertiaTensor(float a, float b, float c, float mass);

// Length through the table square root; 0 for the zero vector.
inline float neLength(const vec3d& v) { return fastSqrt(v.lengthSq()); }

inline vec3d neAxis(const matrix3d& t, int i) { return t.row(i); }
inline vec3d nePosition(const matrix3d& t) { return t.row(3); }
inline void neSetRow(matrix3d& t, int i, const vec3d& v)
{
    t.m[i * 4] = v.x;
    t.m[i * 4 + 1] = v.y;
    t.m[i * 4 + 2] = v.z;
}

// A world point or direction carried into the frame of t and back out of it.
inline vec3d neToFrame(const matrix3d& t, const vec3d& p)
{
    const vec3d d = p - nePosition(t);
    return {d.dot(t.row(0)), d.dot(t.row(1)), d.dot(t.row(2))};
}
inline vec3d neDirectionToFrame(const matrix3d& t, const vec3d& v) { return {v.dot(t.row(0)), v.dot(t.row(1)), v.dot(t.row(2))}; }
inline vec3d neDirectionFromFrame(const matrix3d& t, const vec3d& v)
{
    const float* m = t.m;
    return {v.x * m[0] + v.y * m[4] + v.z * m[8], v.x * m[1] + v.y * m[5] + v.z * m[9],
            v.x * m[2] + v.y * m[6] + v.z * m[10]};
}
inline vec3d neFromFrame(const matrix3d& t, const vec3d& q) { return neDirectionFromFrame(t, q) + nePosition(t); }

// The frame a placed in the frame b: a's axes turned by b, a's position carried by b.
inline matrix3d neCompose(const matrix3d& a, const matrix3d& b)
{
    matrix3d r;
    for (int i = 0; i < 3; ++i)
        neSetRow(r, i, neDirectionFromFrame(b, a.row(i)));
    neSetRow(r, 3, neFromFrame(b, a.row(3)));
    r.m[15] = 1.0f;
    return r;
}

// The rotation rows of a unit quaternion (row r = the image of axis r).
neM3 neRotationOf(const quaternion& q);

// Half the product (0, w) q: the rate of change of q under the angular velocity w.
quaternion neQuaternionRate(const vec3d& w, const quaternion& q);

inline quaternion neAddScaled(const quaternion& q, const quaternion& rate, float s)
{
    return {q.x + rate.x * s, q.y + rate.y * s, q.z + rate.z * s, q.w + rate.w * s};
}

inline bool neFinite(const vec3d& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
