#include "Physics/neMath.h"

vec3d cubeInertiaTensor(float a, float b, float c, float mass)
{
    float r = a;
    if (b > r)
        r = b;
    if (c > r)
        r = c;
    const float i = 2.0f * r * r * mass / 3.0f;
    return {i, i, i};
}

neM3 neRotationOf(const quaternion& q)
{
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    return neM3::fromRows({1 - 2 * y * y - 2 * z * z, 2 * x * y + 2 * z * w, 2 * x * z - 2 * y * w},
                          {2 * x * y - 2 * z * w, 1 - 2 * x * x - 2 * z * z, 2 * y * z + 2 * x * w},
                          {2 * x * z + 2 * y * w, 2 * y * z - 2 * x * w, 1 - 2 * x * x - 2 * y * y});
}

quaternion neQuaternionRate(const vec3d& w, const quaternion& q)
{
    const vec3d v{q.x, q.y, q.z};
    const vec3d p = w * q.w + w.cross(v);
    return {0.5f * p.x, 0.5f * p.y, 0.5f * p.z, -0.5f * w.dot(v)};
}
