#include "Core/Quaternion.h"

#include "Core/Math.h"

#include <cmath>

#include <xmmintrin.h>

namespace {

constexpr float degreesPerRadian = 57.29578f;

quaternion normalisedIfNonZero(const quaternion& q)
{
    const float lengthSq = q.dot(q);
    if (!(lengthSq > 0.0f))
        return q;
    const float length = std::sqrt(lengthSq);
    return {q.x / length, q.y / length, q.z / length, q.w / length};
}

quaternion negated(const quaternion& q) { return {-q.x, -q.y, -q.z, -q.w}; }

}

quaternion quaternion::fromMatrix(const vec3d& row0, const vec3d& row1, const vec3d& row2)
{
    const float m00 = row0.x, m01 = row0.y, m02 = row0.z;
    const float m10 = row1.x, m11 = row1.y, m12 = row1.z;
    const float m20 = row2.x, m21 = row2.y, m22 = row2.z;

    // Squares of w, x, y and z; the largest gives the best-conditioned division.
    const float cw = (m00 + m11 + m22 + 1.0f) * 0.25f;
    const float cx = cw - (m11 + m22) * 0.5f;
    const float cy = cw - (m00 + m22) * 0.5f;
    const float cz = cw - (m00 + m11) * 0.5f;

    int chosen = 0;
    float largest = cw;
    if (cx >= largest) { chosen = 1; largest = cx; }
    if (cy >= largest) { chosen = 2; largest = cy; }
    if (cz >= largest) { chosen = 3; largest = cz; }

    const float c = fastSqrt(largest);
    const float k = 0.25f / c;
    switch (chosen) {
    case 0:
        return {(m12 - m21) * k, (m20 - m02) * k, (m01 - m10) * k, c};
    case 1:
        return {c, (m01 + m10) * k, (m02 + m20) * k, (m12 - m21) * k};
    case 2:
        return {(m01 + m10) * k, c, (m12 + m21) * k, (m20 - m02) * k};
    default:
        return {(m02 + m20) * k, (m12 + m21) * k, c, (m01 - m10) * k};
    }
}

matrix3d quaternion::toMatrix() const
{
    matrix3d m = matrix3d::identity();
    m.m[0] = 1.0f - 2.0f * (y * y + z * z);
    m.m[1] = 2.0f * (x * y + z * w);
    m.m[2] = 2.0f * (x * z - y * w);
    m.m[4] = 2.0f * (x * y - z * w);
    m.m[5] = 1.0f - 2.0f * (x * x + z * z);
    m.m[6] = 2.0f * (y * z + x * w);
    m.m[8] = 2.0f * (x * z + y * w);
    m.m[9] = 2.0f * (y * z - x * w);
    m.m[10] = 1.0f - 2.0f * (x * x + y * y);
    return m;
}

vec3d quaternion::toEuler() const
{
    const float s = 2.0f * (y * z + x * w);
    if (s >= -1.0f && s <= 1.0f) {
        const float a0 = float(std::asin(double(s)));
        const float a1 = -float(std::atan2(double(2.0f * (x * z - y * w)), double(1.0f - 2.0f * (x * x + y * y))));
        const float a2 = -float(std::atan2(double(2.0f * (x * y - z * w)), double(1.0f - 2.0f * (x * x + z * z))));
        return {a0 * degreesPerRadian, a1 * degreesPerRadian, a2 * degreesPerRadian};
    }
    const float a1 = float(std::atan2(double(2.0f * (x * z + y * w)), double(1.0f - 2.0f * (y * y + z * z))));
    return {s * 90.0f, a1 * degreesPerRadian, 0.0f};
}

void quaternion::toAxisAngle(vec3d& axis, float& angle) const
{
    const float lengthSq = x * x + y * y + z * z;
    if (lengthSq == 0.0f) {
        axis = {1.0f, 0.0f, 0.0f};
        angle = 0.0f;
        return;
    }
    const float length = fastSqrt(lengthSq);
    axis = {x / length, y / length, z / length};
    if (w == 1.0f) {
        angle = 0.0f;
        return;
    }
    // Rounding can push w of a unit quaternion just past 1, where acos is NaN.
    const float c = w > 1.0f ? 1.0f : (w < -1.0f ? -1.0f : w);
    angle = 2.0f * floatAcos(c);
}

quaternion quaternion::nlerp(const quaternion& q0, const quaternion& q1, float t)
{
    // The four parts at once; each is rounded as when worked out alone, and
    // the length adds its squares in the order dot does.
    const quaternion b = q0.dot(q1) < 0.0f ? negated(q1) : q1;
    const float s = 1.0f - t;
    const __m128 blended =
        _mm_add_ps(_mm_mul_ps(_mm_set1_ps(s), _mm_loadu_ps(&q0.x)), _mm_mul_ps(_mm_set1_ps(t), _mm_loadu_ps(&b.x)));
    alignas(16) float squares[4];
    _mm_store_ps(squares, _mm_mul_ps(blended, blended));
    const float lengthSq = squares[0] + squares[1] + squares[2] + squares[3];
    quaternion r;
    if (!(lengthSq > 0.0f)) {
        _mm_storeu_ps(&r.x, blended);
        return r;
    }
    _mm_storeu_ps(&r.x, _mm_div_ps(blended, _mm_set1_ps(std::sqrt(lengthSq))));
    return r;
}

quaternion quaternion::bezierBlend(const quaternion& q0, const quaternion& q1, const quaternion& q2, float t)
{
    const quaternion b1 = q0.dot(q1) < 0.0f ? negated(q1) : q1;
    const quaternion b2 = b1.dot(q2) < 0.0f ? negated(q2) : q2;
    const float s = 1.0f - t;
    const float f0 = s * s;
    const float f1 = 2.0f * t * s;
    const float f2 = t * t;
    return normalisedIfNonZero({f0 * q0.x + f1 * b1.x + f2 * b2.x, f0 * q0.y + f1 * b1.y + f2 * b2.y,
                                f0 * q0.z + f1 * b1.z + f2 * b2.z, f0 * q0.w + f1 * b1.w + f2 * b2.w});
}
