#include "Core/Matrix.h"

#include "Core/ConvexVolume.h"
#include "Core/Math.h"

#include <xmmintrin.h>

matrix3d matrix3d::identity()
{
    matrix3d r;
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
    return r;
}

matrix3d matrix3d::operator*(const matrix3d& o) const
{
    // Row i of the product is o's rows weighted by row i's four entries and
    // added in that order: four columns at once, each rounded exactly as
    // when it is worked out alone.
    const __m128 o0 = _mm_loadu_ps(o.m), o1 = _mm_loadu_ps(o.m + 4);
    const __m128 o2 = _mm_loadu_ps(o.m + 8), o3 = _mm_loadu_ps(o.m + 12);
    matrix3d r;
    for (int i = 0; i < 4; ++i) {
        const float* a = m + i * 4;
        __m128 row = _mm_mul_ps(_mm_set1_ps(a[0]), o0);
        row = _mm_add_ps(row, _mm_mul_ps(_mm_set1_ps(a[1]), o1));
        row = _mm_add_ps(row, _mm_mul_ps(_mm_set1_ps(a[2]), o2));
        row = _mm_add_ps(row, _mm_mul_ps(_mm_set1_ps(a[3]), o3));
        _mm_storeu_ps(r.m + i * 4, row);
    }
    return r;
}


matrix3d matrix3d::fromAngles(const vec3d& degrees)
{
    // Single-precision pi / 180, applied in double precision.
    constexpr double radiansPerDegree = double(0.017453292f);
    const float ax = float(double(degrees.x) * radiansPerDegree);
    const float ay = float(double(degrees.y) * radiansPerDegree);
    const float az = float(double(degrees.z) * radiansPerDegree);
    const float cx = floatCos(ax), sx = floatSin(ax);
    const float cy = floatCos(ay), sy = floatSin(ay);
    const float cz = floatCos(az), sz = floatSin(az);
    matrix3d r = identity();
    r.m[0] = cz * cy - sz * sx * sy;
    r.m[1] = sz * cy + cz * sx * sy;
    r.m[2] = -cx * sy;
    r.m[4] = -cx * sz;
    r.m[5] = cx * cz;
    r.m[6] = sx;
    r.m[8] = cz * sy + sz * sx * cy;
    r.m[9] = sz * sy - cz * sx * cy;
    r.m[10] = cx * cy;
    return r;
}

bool matrix3d::inverseAffine(matrix3d& out) const
{
    const float a = at(0, 0), b = at(0, 1), c = at(0, 2);
    const float d = at(1, 0), e = at(1, 1), f = at(1, 2);
    const float g = at(2, 0), h = at(2, 1), i = at(2, 2);
    const float co00 = e * i - f * h, co01 = f * g - d * i, co02 = d * h - e * g;
    const float determinant = a * co00 + b * co01 + c * co02;
    if (determinant == 0.0f)
        return false;
    const float s = 1.0f / determinant;
    matrix3d r = identity();
    r.at(0, 0) = co00 * s;
    r.at(0, 1) = (c * h - b * i) * s;
    r.at(0, 2) = (b * f - c * e) * s;
    r.at(1, 0) = co01 * s;
    r.at(1, 1) = (a * i - c * g) * s;
    r.at(1, 2) = (c * d - a * f) * s;
    r.at(2, 0) = co02 * s;
    r.at(2, 1) = (b * g - a * h) * s;
    r.at(2, 2) = (a * e - b * d) * s;
    const vec3d t = r.transformVector(row(3));
    r.at(3, 0) = -t.x;
    r.at(3, 1) = -t.y;
    r.at(3, 2) = -t.z;
    out = r;
    return true;
}

namespace {

// The point where three planes meet, by Cramer's rule; false when they do not
// meet in one point.
bool meet(const ConvexVolume::Plane& a, const ConvexVolume::Plane& b, const ConvexVolume::Plane& c, vec3d& out)
{
    const vec3d bc = b.normal.cross(c.normal);
    const float det = a.normal.dot(bc);
    if (det == 0.0f)
        return false;
    out = (bc * a.distance + c.normal.cross(a.normal) * b.distance + a.normal.cross(b.normal) * c.distance) / det;
    return true;
}

}

bool matrix3d::fitToVolume(const ConvexVolume& volume, matrix3d& projection, vec3d& centre, float& width,
                           float& height)
{
    if (volume.count < 6)
        return false;
    // Side planes along the view direction: the corners of the near plane;
    // those of a widening volume lie on the far plane.
    const bool parallel = volume.testPlanes(volume.planes[0].normal) != 0;
    const ConvexVolume::Plane& cut = volume.planes[parallel ? 0 : 1];
    // Left-top, top-right, right-bottom, bottom-left.
    vec3d corners[4];
    for (int i = 0; i < 4; ++i)
        if (!meet(cut, volume.planes[2 + i], volume.planes[2 + (i + 1) % 4], corners[i]))
            return false;
    const float w = (corners[1] - corners[0]).length();
    const float h = (corners[2] - corners[1]).length();
    if (!(w > 0.0f && h > 0.0f))
        return false;
    projection = matrix3d();
    projection.m[0] = 2.0f / w;
    projection.m[5] = 2.0f / h;
    projection.m[10] = 1.0f;
    projection.m[15] = 1.0f;
    centre = (corners[0] + corners[2]) * 0.5f;
    width = w;
    height = h;
    return true;
}
