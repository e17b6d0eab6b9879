#include "Core/Quaternion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{

constexpr float pi = 3.14159265f;

// Row-vector rotation matrix of a unit quaternion (row r = image of axis r).
void rowsOf(const quaternion& q, vec3d rows[3])
{
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    rows[0] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)};
    rows[1] = {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)};
    rows[2] = {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)};
}

quaternion aboutAxis(vec3d axis, float angle)
{
    axis = axis.normalised();
    const float s = std::sin(angle / 2);
    return {axis.x * s, axis.y * s, axis.z * s, std::cos(angle / 2)};
}

// Same rotation: equal up to the sign of all four components.
void expectSameRotation(const quaternion& a, const quaternion& b, float tolerance = 1e-4f)
{
    const float sign = a.dot(b) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(a.x, sign * b.x, tolerance);
    EXPECT_NEAR(a.y, sign * b.y, tolerance);
    EXPECT_NEAR(a.z, sign * b.z, tolerance);
    EXPECT_NEAR(a.w, sign * b.w, tolerance);
}

TEST(Quaternion, FromMatrixOfAxisRotations)
{
    // 90 degrees about z for row vectors: x goes to y.
    const quaternion q = quaternion::fromMatrix({0, 1, 0}, {-1, 0, 0}, {0, 0, 1});
    EXPECT_NEAR(q.z, std::sqrt(0.5f), 1e-4f);
    EXPECT_NEAR(q.w, std::sqrt(0.5f), 1e-4f);
    EXPECT_NEAR(q.x, 0.0f, 1e-6f);
    EXPECT_NEAR(q.y, 0.0f, 1e-6f);

    // Half turns take the x, y and z branches.
    expectSameRotation(quaternion::fromMatrix({1, 0, 0}, {0, -1, 0}, {0, 0, -1}), {1, 0, 0, 0});
    expectSameRotation(quaternion::fromMatrix({-1, 0, 0}, {0, 1, 0}, {0, 0, -1}), {0, 1, 0, 0});
    expectSameRotation(quaternion::fromMatrix({-1, 0, 0}, {0, -1, 0}, {0, 0, 1}), {0, 0, 1, 0});

    matrix3d m = matrix3d::identity();
    expectSameRotation(quaternion::fromMatrix(m), {0, 0, 0, 1});
}

TEST(Quaternion, FromMatrixRecoversRandomRotations)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 2000; ++i) {
        quaternion q{u(random), u(random), u(random), u(random)};
        const float length = std::sqrt(q.dot(q));
        if (length < 0.1f)
            continue;
        q = {q.x / length, q.y / length, q.z / length, q.w / length};
        vec3d rows[3];
        rowsOf(q, rows);
        expectSameRotation(quaternion::fromMatrix(rows[0], rows[1], rows[2]), q, 2e-4f);
    }
}

TEST(Quaternion, ToEulerGivesDegreesPerAxis)
{
    const vec3d ax = aboutAxis({1, 0, 0}, 30 * pi / 180).toEuler();
    EXPECT_NEAR(ax.x, 30.0f, 1e-3f);
    EXPECT_NEAR(ax.y, 0.0f, 1e-3f);
    EXPECT_NEAR(ax.z, 0.0f, 1e-3f);
    const vec3d ay = aboutAxis({0, 1, 0}, 40 * pi / 180).toEuler();
    EXPECT_NEAR(ay.x, 0.0f, 1e-3f);
    EXPECT_NEAR(ay.y, 40.0f, 1e-3f);
    EXPECT_NEAR(ay.z, 0.0f, 1e-3f);
    const vec3d az = aboutAxis({0, 0, 1}, -50 * pi / 180).toEuler();
    EXPECT_NEAR(az.x, 0.0f, 1e-3f);
    EXPECT_NEAR(az.y, 0.0f, 1e-3f);
    EXPECT_NEAR(az.z, -50.0f, 1e-3f);
}

TEST(Quaternion, ToEulerBeyondTheGimbalLock)
{
    // Slightly longer than unit, so s = 2(yz + xw) is just above 1.
    const quaternion q{0.7072f, 0.0f, 0.0f, 0.7072f};
    const float s = 2.0f * (q.y * q.z + q.x * q.w);
    ASSERT_GT(s, 1.0f);
    const vec3d angles = q.toEuler();
    EXPECT_FLOAT_EQ(angles.x, s * 90.0f);
    EXPECT_NEAR(angles.y, 0.0f, 1e-6f);
    EXPECT_EQ(angles.z, 0.0f);
}

TEST(Quaternion, ToAxisAngle)
{
    vec3d axis;
    float angle = -1;
    quaternion{0, 0, 0, 1}.toAxisAngle(axis, angle);
    EXPECT_EQ(axis, vec3d(1, 0, 0));
    EXPECT_EQ(angle, 0.0f);

    aboutAxis({0, 3, 4}, 1.25f).toAxisAngle(axis, angle);
    EXPECT_NEAR(axis.x, 0.0f, 1e-4f);
    EXPECT_NEAR(axis.y, 0.6f, 1e-4f);
    EXPECT_NEAR(axis.z, 0.8f, 1e-4f);
    EXPECT_NEAR(angle, 1.25f, 1e-4f);

    // Rounding can leave w just above 1: the angle stays a number.
    quaternion{1e-4f, 0, 0, std::nextafter(1.0f, 2.0f)}.toAxisAngle(axis, angle);
    EXPECT_EQ(angle, 0.0f);
    EXPECT_NEAR(axis.x, 1.0f, 1e-4f);
}

TEST(Quaternion, NlerpTakesTheShorterArc)
{
    const quaternion q = aboutAxis({1, 2, 3}, 0.7f);
    const quaternion minusQ{-q.x, -q.y, -q.z, -q.w};
    expectSameRotation(quaternion::nlerp(q, minusQ, 0.5f), q, 1e-5f);
    const quaternion r = quaternion::nlerp(q, minusQ, 0.5f);
    EXPECT_GT(r.dot(q), 0.99f); // q itself, not -q

    // Halfway between 0 and 90 degrees about z is 45 degrees.
    const quaternion half = quaternion::nlerp({0, 0, 0, 1}, aboutAxis({0, 0, 1}, pi / 2), 0.5f);
    expectSameRotation(half, aboutAxis({0, 0, 1}, pi / 4), 1e-5f);
    EXPECT_NEAR(half.dot(half), 1.0f, 1e-5f);
}

TEST(Quaternion, BezierBlend)
{
    const quaternion q0{0, 0, 0, 1};
    const quaternion q1 = aboutAxis({0, 0, 1}, pi / 2);
    const quaternion q2 = aboutAxis({0, 0, 1}, pi);
    expectSameRotation(quaternion::bezierBlend(q0, q1, q2, 0.5f), q1, 1e-5f);
    expectSameRotation(quaternion::bezierBlend(q0, q1, q2, 0.0f), q0, 1e-6f);
    expectSameRotation(quaternion::bezierBlend(q0, q1, q2, 1.0f), q2, 1e-6f);

    // Control points on the far hemisphere are turned round first.
    const quaternion flipped1{-q1.x, -q1.y, -q1.z, -q1.w};
    const quaternion b = quaternion::bezierBlend(q0, flipped1, q2, 0.5f);
    EXPECT_NEAR(b.z, q1.z, 1e-5f);
    EXPECT_NEAR(b.w, q1.w, 1e-5f);
}

}
