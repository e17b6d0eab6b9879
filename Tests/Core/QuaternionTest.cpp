#include "Core/Quaternion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace
{

constexpr float pi = 3.14159265f;

quaternion aboutAxis(vec3d axis, float angle)
{
    axis = axis.normalised();
    const float s = std::sin(angle / 2);
    return {axis.x * s, axis.y * s, axis.z * s, std::cos(angle / 2)};
}

// Unit quaternions of the same rotation are equal up to their sign.
void expectSameRotation(const quaternion& a, const quaternion& b) { EXPECT_NEAR(std::fabs(a.dot(b)), 1.0f, 1e-5f); }

TEST(Quaternion, MatrixConversionsInvertEachOther)
{
    std::mt19937 random(11);
    std::normal_distribution<float> n(0.0f, 1.0f);
    for (int i = 0; i < 2000; ++i) {
        quaternion q{n(random), n(random), n(random), n(random)};
        const float l = std::sqrt(q.dot(q));
        q = {q.x / l, q.y / l, q.z / l, q.w / l};
        const matrix3d m = q.toMatrix();
        // Row r is the image of axis r (row vectors), so the rows are orthonormal.
        EXPECT_NEAR(m.row(0).cross(m.row(1)).dot(m.row(2)), 1.0f, 1e-4f);
        EXPECT_NEAR(m.row(0).dot(m.row(1)), 0.0f, 1e-5f);
        EXPECT_EQ(m.m[15], 1.0f);
        expectSameRotation(quaternion::fromMatrix(m), q);
    }
    // A quarter turn about z takes x to y.
    const matrix3d quarter = aboutAxis({0, 0, 1}, pi / 2).toMatrix();
    EXPECT_NEAR((quarter.transformVector({1, 0, 0}) - vec3d{0, 1, 0}).length(), 0.0f, 1e-6f);
}

TEST(Quaternion, EulerAndAxisAngle)
{
    const std::pair<quaternion, vec3d> cases[] = {{aboutAxis({1, 0, 0}, 30 * pi / 180), {30, 0, 0}},
                                                  {aboutAxis({0, 1, 0}, 40 * pi / 180), {0, 40, 0}},
                                                  {aboutAxis({0, 0, 1}, -50 * pi / 180), {0, 0, -50}}};
    for (const auto& [q, degrees] : cases) {
        const vec3d angles = q.toEuler();
        EXPECT_NEAR((angles - degrees).length(), 0.0f, 2e-3f) << degrees.x << " " << degrees.y << " " << degrees.z;
    }
    // Just past the gimbal lock (2(yz + xw) above 1) the angles stay numbers.
    const vec3d locked = quaternion{0.7072f, 0.0f, 0.0f, 0.7072f}.toEuler();
    EXPECT_FLOAT_EQ(locked.x, 2 * 0.7072f * 0.7072f * 90.0f);
    EXPECT_EQ(locked.z, 0.0f);

    vec3d axis;
    float angle = -1;
    aboutAxis({0, 3, 4}, 1.25f).toAxisAngle(axis, angle);
    EXPECT_NEAR((axis - vec3d{0, 0.6f, 0.8f}).length(), 0.0f, 1e-4f);
    EXPECT_NEAR(angle, 1.25f, 1e-4f);
    quaternion{}.toAxisAngle(axis, angle);
    EXPECT_EQ(axis, vec3d(1, 0, 0));
    EXPECT_EQ(angle, 0.0f);
    // Rounding can leave w just above 1.
    quaternion{1e-4f, 0, 0, std::nextafter(1.0f, 2.0f)}.toAxisAngle(axis, angle);
    EXPECT_EQ(angle, 0.0f);
}

TEST(Quaternion, BlendsTakeTheShorterArc)
{
    const quaternion q = aboutAxis({1, 2, 3}, 0.7f);
    EXPECT_GT(quaternion::nlerp(q, {-q.x, -q.y, -q.z, -q.w}, 0.5f).dot(q), 0.9999f);
    const quaternion half = quaternion::nlerp({}, aboutAxis({0, 0, 1}, pi / 2), 0.5f);
    expectSameRotation(half, aboutAxis({0, 0, 1}, pi / 4));

    const quaternion q1 = aboutAxis({0, 0, 1}, pi / 2), q2 = aboutAxis({0, 0, 1}, pi);
    expectSameRotation(quaternion::bezierBlend({}, q1, q2, 0.5f), q1);
    expectSameRotation(quaternion::bezierBlend({}, q1, q2, 1.0f), q2);
    // A control point on the far hemisphere is turned round first.
    const quaternion b = quaternion::bezierBlend({}, {-q1.x, -q1.y, -q1.z, -q1.w}, q2, 0.5f);
    EXPECT_NEAR(b.z, q1.z, 1e-5f);
    EXPECT_NEAR(b.w, q1.w, 1e-5f);
}

}

// The skeleton's angle turn: Ry x Rx x Rz for row vectors, whose Euler
// angles come back through a quaternion.
TEST(Quaternion, AngleTurnsAreRyRxRzAndReadBackAsEuler)
{
    std::mt19937 random(12);
    std::uniform_real_distribution<float> angle(-80.0f, 80.0f);
    for (int i = 0; i < 500; ++i) {
        const vec3d a(angle(random), 2.0f * angle(random), 2.0f * angle(random));
        const matrix3d expected = aboutAxis({0, 1, 0}, a.y * pi / 180).toMatrix() *
                                  aboutAxis({1, 0, 0}, a.x * pi / 180).toMatrix() *
                                  aboutAxis({0, 0, 1}, a.z * pi / 180).toMatrix();
        const matrix3d turn = matrix3d::fromAngles(a);
        for (int e = 0; e < 16; ++e)
            ASSERT_NEAR(turn.m[e], expected.m[e], 2e-6f) << e;
        EXPECT_NEAR((quaternion::fromMatrix(turn).toEuler() - a).length(), 0.0f, 0.02f);
    }
}

TEST(Quaternion, AffineInversesUndoTheirMatrices)
{
    std::mt19937 random(13);
    std::normal_distribution<float> n(0.0f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        matrix3d m = aboutAxis({n(random), n(random), n(random)}, n(random)).toMatrix();
        for (int e = 0; e < 12; ++e)
            m.m[e] *= 1.0f + 0.5f * std::fabs(n(random)); // scaled and sheared a little
        m.setRow(3, {n(random) * 10, n(random) * 10, n(random) * 10});
        matrix3d inverse;
        ASSERT_TRUE(m.inverseAffine(inverse));
        const matrix3d product = m * inverse;
        const matrix3d identity = matrix3d::identity();
        for (int e = 0; e < 16; ++e)
            ASSERT_NEAR(product.m[e], identity.m[e], 1e-4f) << e;
    }
    matrix3d flat = matrix3d::identity();
    flat.m[5] = 0.0f;
    matrix3d untouched;
    untouched.m[0] = 7.0f;
    EXPECT_FALSE(flat.inverseAffine(untouched)) << "a singular block has no inverse";
    EXPECT_EQ(untouched.m[0], 7.0f);
}

// Products, point and vector transforms and blends work several entries at
// once: each entry must still come out bit for bit as when it is worked out
// alone, in the order the formulas write it (the rider's pose is compared
// frame to frame).
TEST(Quaternion, ProductsAndBlendsRoundAsEachEntryWorkedOutAlone)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<float> spread(-1000.0f, 1000.0f);
    const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, 1e-30f, 1e30f, 3.0e-39f, 0.1f};
    auto value = [&](int i) {
        return i % 5 == 0 ? special[random() % 8] : spread(random) * std::pow(10.0f, float(int(random() % 7) - 3));
    };
    for (int round = 0; round < 2000; ++round) {
        matrix3d a, b;
        for (int e = 0; e < 16; ++e) {
            a.m[e] = value(e + round);
            b.m[e] = value(e + 3 * round);
        }
        const matrix3d product = a * b;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                float sum = a.m[i * 4] * b.m[j];
                sum += a.m[i * 4 + 1] * b.m[4 + j];
                sum += a.m[i * 4 + 2] * b.m[8 + j];
                sum += a.m[i * 4 + 3] * b.m[12 + j];
                ASSERT_EQ(std::memcmp(&product.m[i * 4 + j], &sum, sizeof(float)), 0)
                    << "round " << round << ", entry " << i << ", " << j << ": " << product.m[i * 4 + j] << " " << sum;
            }
        const vec3d p(value(round), value(round + 1), value(round + 2));
        const vec3d point = a.transformPoint(p), vector = a.transformVector(p);
        for (int j = 0; j < 3; ++j) {
            const float turned = p.x * a.m[j] + p.y * a.m[4 + j] + p.z * a.m[8 + j];
            const float moved = turned + a.m[12 + j];
            const float gotTurned = vector[j], gotMoved = point[j];
            EXPECT_EQ(std::memcmp(&gotTurned, &turned, sizeof(float)), 0) << round << ", " << j;
            EXPECT_EQ(std::memcmp(&gotMoved, &moved, sizeof(float)), 0) << round << ", " << j;
        }

        // Blends of unit and of unnormalised quaternions, on either
        // hemisphere, and the zero blend that stays as it is.
        const quaternion q0 = aboutAxis({a.m[0], a.m[1], a.m[2]}, a.m[3] * 0.01f);
        quaternion q1 = round % 3 ? aboutAxis({b.m[0], b.m[1], b.m[2]}, b.m[3] * 0.01f)
                                  : quaternion{b.m[0], b.m[1], b.m[2], b.m[3]};
        if (round % 7 == 0)
            q1 = {-q0.x, -q0.y, -q0.z, -q0.w};
        const float t = round % 11 == 0 ? 0.5f : float(random() % 1001) / 1000.0f;
        const quaternion blended = quaternion::nlerp(q0, q1, t);
        const bool flip = q0.dot(q1) < 0.0f;
        const float s = 1.0f - t;
        const float c[4] = {s * q0.x + t * (flip ? -q1.x : q1.x), s * q0.y + t * (flip ? -q1.y : q1.y),
                            s * q0.z + t * (flip ? -q1.z : q1.z), s * q0.w + t * (flip ? -q1.w : q1.w)};
        const float lengthSq = c[0] * c[0] + c[1] * c[1] + c[2] * c[2] + c[3] * c[3];
        const float length = lengthSq > 0.0f ? std::sqrt(lengthSq) : 1.0f;
        const float expected[4] = {c[0] / length, c[1] / length, c[2] / length, c[3] / length};
        ASSERT_EQ(std::memcmp(&blended, expected, sizeof(expected)), 0)
            << "round " << round << ": " << blended.x << " " << expected[0] << ", " << blended.w << " " << expected[3];
    }
}
