#include "Core/Math.h"
#include "Core/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{

TEST(FastSqrt, ExactOnEvenPowersOfTwoAndZero)
{
    EXPECT_EQ(fastSqrt(0.0f), 0.0f);
    EXPECT_EQ(fastSqrt(1.0f), 1.0f);
    EXPECT_EQ(fastSqrt(4.0f), 2.0f);
    for (int e = -60; e <= 60; e += 2)
        EXPECT_EQ(fastSqrt(std::ldexp(1.0f, e)), std::ldexp(1.0f, e / 2)) << "2^" << e;
}

TEST(FastSqrt, AgreesWithSqrtToFifteenMantissaBits)
{
    EXPECT_NEAR(fastSqrt(2.0f), 1.41421356f, 1.41421356f * std::ldexp(1.0f, -15));
    EXPECT_NEAR(fastSqrt(0.5f), 0.70710678f, 0.70710678f * std::ldexp(1.0f, -15));

    std::mt19937 random(7);
    std::uniform_real_distribution<float> exponent(-30.0f, 30.0f);
    for (int i = 0; i < 20000; ++i) {
        const float x = std::pow(10.0f, exponent(random) / 2.5f);
        const double exact = std::sqrt(double(x));
        EXPECT_NEAR(fastSqrt(x), exact, exact * std::ldexp(1.0, -15)) << x;
    }
}

TEST(NextPowerOfTwo, RoundsUpToPowersOfTwo)
{
    EXPECT_EQ(nextPowerOfTwo(0), 1u);
    EXPECT_EQ(nextPowerOfTwo(1), 1u);
    EXPECT_EQ(nextPowerOfTwo(3), 4u);
    EXPECT_EQ(nextPowerOfTwo(64), 64u);
    EXPECT_EQ(nextPowerOfTwo(64 + 64), 128u);
    EXPECT_EQ(nextPowerOfTwo(64 + 32), 128u);
    EXPECT_EQ(nextPowerOfTwo(129), 256u);
    EXPECT_EQ(nextPowerOfTwo(0x80000000u), 0x80000000u);
    EXPECT_EQ(nextPowerOfTwo(0x80000001u), 0u);
}

TEST(Matrix, RowVectorsApplyTheLeftMatrixFirst)
{
    // Rotation by 90 degrees about z for row vectors: x goes to y.
    matrix3d rotate = matrix3d::identity();
    rotate.at(0, 0) = 0.0f;
    rotate.at(0, 1) = 1.0f;
    rotate.at(1, 0) = -1.0f;
    rotate.at(1, 1) = 0.0f;
    matrix3d translate = matrix3d::identity();
    translate.m[12] = 10.0f;
    translate.m[13] = 20.0f;
    translate.m[14] = 30.0f;

    // Rotate, then move.
    const vec3d a = (rotate * translate).transformPoint({1.0f, 2.0f, 3.0f});
    EXPECT_EQ(a, vec3d(8.0f, 21.0f, 33.0f));
    // Move, then rotate.
    const vec3d b = (translate * rotate).transformPoint({1.0f, 2.0f, 3.0f});
    EXPECT_EQ(b, vec3d(-22.0f, 11.0f, 33.0f));
    // Directions ignore the translation.
    EXPECT_EQ((rotate * translate).transformVector({1.0f, 0.0f, 0.0f}), vec3d(0.0f, 1.0f, 0.0f));
}

}
