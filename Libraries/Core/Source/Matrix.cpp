#include "Core/Matrix.h"

matrix3d matrix3d::identity()
{
    matrix3d r;
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
    return r;
}

matrix3d matrix3d::operator*(const matrix3d& o) const
{
    matrix3d r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i * 4 + j] = m[i * 4] * o.m[j] + m[i * 4 + 1] * o.m[4 + j] + m[i * 4 + 2] * o.m[8 + j]
                + m[i * 4 + 3] * o.m[12 + j];
    return r;
}

vec3d matrix3d::transformPoint(const vec3d& p) const
{
    return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12],
            p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
            p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}

vec3d matrix3d::transformVector(const vec3d& v) const
{
    return {v.x * m[0] + v.y * m[4] + v.z * m[8],
            v.x * m[1] + v.y * m[5] + v.z * m[9],
            v.x * m[2] + v.y * m[6] + v.z * m[10]};
}
